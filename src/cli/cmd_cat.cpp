// `quorvel cat`: one file's bytes to standard output, deleted files
// included, like The Sleuth Kit's icat. The bytes come from the save engines
// (save/target_stream.h): exactly what `quorvel save --path` would write, with
// the same account of what could not be read.
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_interrupt.h"
#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/exit_without_teardown.h"
#include "cli/number_argument.h"
#include "cli/partition_request.h"
#include "cli/path_selection.h"
#include "cli/save_notes.h"
#include "core/terminal_progress.h"
#include "recover/format_info_scan.h"
#include "save/save_engines.h"
#include "save/save_job.h"
#include "save/target_stream.h"

namespace quorvel::cli {

namespace {

constexpr const char* kName = "cat";

// The one entry PATH (and --id) name, or a message why there is none.
int ChooseEntry(const std::string& path, const ParsedArgs& parsed, const DiskRecord& disk,
                const PartitionRecord& partition, bool carvedOnly, PathMatch& chosen) {
  std::vector<PathMatch> matches = MatchPath(path, disk, partition, carvedOnly);
  if (parsed.Has("--id")) {
    const std::string text = parsed.Get("--id");
    uint64_t id = 0;
    if (!ParseNumberArgument(text, id))
      return UsageError(kName, NumberArgumentError("--id", text) + ": the number `quorvel ls` shows");
    std::erase_if(matches, [id](const PathMatch& m) { return m.id != id; });
  }
  const std::string& where = carvedOnly ? disk.Identity() : partition.name;
  if (matches.empty()) {
    std::fprintf(stderr, "quorvel: no file \"%s\"%s on %s (paths and numbers are listed by `quorvel ls`)\n",
                 path.c_str(), parsed.Has("--id") ? (" numbered " + parsed.Get("--id")).c_str() : "", where.c_str());
    return kExitNotFound;
  }
  if (matches.size() > 1) {
    std::string ids;
    for (const PathMatch& m : matches) ids += (ids.empty() ? "" : ", ") + std::to_string(m.id);
    std::fprintf(stderr, "quorvel: %zu entries on %s have the path \"%s\" (numbers %s); choose one with --id\n",
                 matches.size(), where.c_str(), path.c_str(), ids.c_str());
    return kExitUsage;
  }
  if (matches.front().folder) {
    std::fprintf(stderr, "quorvel: \"%s\" is a folder; `quorvel save --path` saves folders\n", path.c_str());
    return kExitUsage;
  }
  chosen = matches.front();
  return kExitDone;
}

// Says on stderr what the bytes on stdout lack; kExitDone when nothing.
int ReportShortData(const SaveSummary& summary, const TargetStream& stream, const PathMatch& entry,
                    const std::string& path) {
  if (stream.error() != 0) {
    std::fprintf(stderr, "quorvel: writing to standard output failed: %s\n", std::strerror(stream.error()));
    return kExitNotFound;
  }
  int status = kExitDone;
  for (const SaveNote& note : summary.notes) {
    std::fprintf(stderr, "quorvel: %s: %s\n", path.c_str(), SaveNoteText(note.kind));
    status = kExitIncomplete;
  }
  const bool incomplete = summary.filesIncomplete || summary.emptyNoSignature || summary.Skipped() ||
                          summary.mftErrors || summary.filesWritten == 0;
  if (incomplete) {
    // Unreadable stretches inside the file are sent as zeros so later bytes
    // keep their offsets: they are counted as missing, not as sent.
    unsigned long long missing = 0;
    std::string why;
    for (const IncompleteFile& file : summary.incomplete) {
      missing += file.missing;
      why = std::string(" (") + SaveNoteText(file.why) + ")";
    }
    std::fprintf(stderr, "quorvel: %s is incomplete: %llu of its %llu bytes were written, %llu of them missing%s\n",
                 path.c_str(), static_cast<unsigned long long>(stream.sent()),
                 static_cast<unsigned long long>(entry.size), missing, why.c_str());
    status = kExitIncomplete;
  }
  if (stream.filesCreated() > 1)
    std::fprintf(stderr,
                 "quorvel: %u more clusters carry this file type's signature; `quorvel save --path` writes each\n",
                 stream.filesCreated() - 1);
  return status;
}

int RunCat(const ParsedArgs& parsed) {
  PartitionRequest request;
  if (int status = ResolvePartitionRequest(kName, parsed, 1, request); status != kExitDone) return status;
  // Bytes on the terminal and a bar on the same terminal would mix.
  request.quiet = request.quiet || isatty(STDOUT_FILENO);
  const std::string path = parsed.positional.back();
  DiskList list;
  KeepUntilExit keep(list);
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  PartitionRecord wholeDisk;
  if (int status = OpenRequestedPartition(request, list, disk, partition, wholeDisk); status != kExitDone)
    return status;
  const bool carvedOnly = partition == &wholeDisk;
  if (!carvedOnly) {
    if (SaveEngineModeForFsKind(partition->fsKind) == kNoSaveEngine) {
      std::fprintf(stderr, "quorvel: %s\n", NoReaderMessage(*partition).c_str());
      return kExitNotFound;
    }
    if (int status = ReadRequestedTree(request, *disk, *partition); status != kExitDone) return status;
  }
  PathMatch entry;
  if (int status = ChooseEntry(path, parsed, *disk, *partition, carvedOnly, entry); status != kExitDone) return status;

  // Options as `save` sets them; the target folder only names the file in messages.
  SaveSelection selection;
  selection.multiSelect = true;
  selection.options.useFatReference = !parsed.Has("--no-fat-reference");
  selection.entries = SelectMatches({entry}, *disk, *partition, carvedOnly, false);
  SharedSource source = OpenSaveSource(*disk, *partition);
  if (!source) {
    std::fprintf(stderr, "quorvel: cannot open %s for reading\n", disk->devicePath.c_str());
    return kExitNotFound;
  }
  SaveRun run;
  ScanProgress progress;
  TerminalProgressBar bar(request.quiet);
  progress.sink = &bar;
  InterruptStopsProgress interrupt(progress);
  std::vector<SaveJob> jobs = PrepareSaveJobs(*disk, *partition, selection, source, &progress);
  TargetStream stream(STDOUT_FILENO);
  std::fflush(stdout);
  {
    TargetStreamScope scope(stream);
    MultiSelectSaveThreadMain(jobs, run);
  }
  bar.Close();
  if (run.summary.stopped || interrupt.Interrupted()) {
    std::fprintf(stderr, "quorvel: stopped after %llu bytes\n", static_cast<unsigned long long>(stream.sent()));
    return kExitStopped;
  }
  return ReportShortData(run.summary, stream, entry, path);
}

CommandRegistrar reg({
    kName,
    "cat SOURCE... [PARTITION] PATH [--id N] [--format-scan | --deep-scan] [--lost-partitions[=precise]] "
    "[--no-fat-reference] [--quiet]",
    "write one file's bytes to standard output, deleted files included",
    {{"SOURCE...", "as for ls: one source, or the disks of a dynamic-disk group"},
     {"PARTITION",
      "a row's text, a volume of the group, or a 0-based index; may be left out only with\n"
      "--deep-scan, for the files carved from the whole disk"},
     {"PATH",
      "the file as `quorvel ls` prints its path: 根目录/docs/a.txt, 零散目录/1234/b.doc or\n"
      "\"Extra Found Files/f0001.jpg\""}},
    {{"--id", "N",
      "the entry numbered N (the number `quorvel ls` shows: FAT first cluster, NTFS record,\n"
      "carved start sector) when several entries share PATH, as deleted ones often do"},
     {"--format-scan", nullptr, "format recovery first (as `ls --format-scan`)"},
     {"--deep-scan", nullptr, "deep scan first (as `ls --deep-scan`)"},
     LostScanOptionSpec("scan the disk for lost partitions first (as `ls --lost-partitions`)"),
     {"--no-fat-reference", nullptr, "FAT: read a deleted typed file without the signature test of its clusters"},
     {"--quiet", nullptr, "no progress bar (there is none when standard output is a terminal)"}},
    "The bytes are exactly those `quorvel save --path PATH` writes into its file: a FAT file through\n"
    "its cluster chain (a deleted one from its first cluster on), an NTFS file from its MFT record\n"
    "(resident, sparse and compressed data), a carved file from its start sector. When not every byte\n"
    "could be read (a chain or the data runs end early, no cluster passes the type's signature test),\n"
    "what could be read is still written, stderr says what is missing and the exit status is 4.\n"
    "\n"
    "exit status: 0 the whole file was written, 1 usage error (also: PATH is a folder, or several\n"
    "entries share it), 2 not found or not readable, 3 stopped, 4 written incomplete\n",
    &RunCat,
    2,
});

}  // namespace

}  // namespace quorvel::cli
