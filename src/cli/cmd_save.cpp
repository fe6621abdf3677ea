// `quorvel save`: saves the entries at the given paths (default: the whole
// tree) the way the file page's multi-select save saves ticked rows. The run
// goes in five steps: resolve the arguments, read the partition and select the entries,
// check the target, run the save, report.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_interrupt.h"
#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/exit_without_teardown.h"
#include "cli/json_writer.h"
#include "cli/partition_request.h"
#include "cli/path_selection.h"
#include "cli/save_notes.h"
#include "cli/scan_file_option.h"
#include "cli/terminal_text.h"
#include "core/operation_busy.h"
#include "core/terminal_progress.h"
#include "io/write_guard.h"
#include "platform/free_space.h"
#include "recover/format_info_scan.h"
#include "save/save_engines.h"
#include "save/save_job.h"

namespace quorvel::cli {

namespace {

constexpr const char* kName = "save";

// What the command words (the file page words the same refusals its own way).
constexpr const char* kBusyText = "警告: 请等待当前操作完成!";
constexpr const char* kSpaceShortText = "目标盘空间不足，请重新选择盘!";
constexpr const char* kSameDriveText = "将文件放回原分区行为危险";
constexpr const char* kProgressText = "正在保存文件，请稍等...";

// ---- resolve ----------------------------------------------------------------

struct SaveRequest {
  PartitionRequest where;
  std::vector<std::string> paths;  // as `ls` prints them; none: the whole tree
  SaveOptions options;
  bool allowSameDisk = false;
  bool json = false;
};

// Reads the arguments into request; kExitDone, or kExitUsage after saying why.
int ResolveRequest(const ParsedArgs& parsed, SaveRequest& request) {
  if (int status = ResolvePartitionRequest(kName, parsed, 0, request.where); status != kExitDone) return status;
  std::string target = parsed.Get("--to");
  if (target.empty()) return UsageError(kName, "the target folder is missing (--to DIR)");
  while (target.size() > 1 && target.back() == '/') target.pop_back();
  request.paths = parsed.GetAll("--path");
  request.options.targetFolder = target;
  request.options.nameFilter = parsed.Get("--filter");
  request.options.useFatReference = !parsed.Has("--no-fat-reference");
  // Without either switch both kinds are saved.
  request.options.recoverDeleted = parsed.Has("--deleted") || !parsed.Has("--normal");
  request.options.recoverNormal = parsed.Has("--normal") || !parsed.Has("--deleted");
  request.allowSameDisk = parsed.Has("--allow-same-disk");
  request.json = parsed.Has("--json");
  return kExitDone;
}

// Finds the source and partition, refuses what cannot or must not be saved
// from, and reads the partition's tree. After a deep scan without PARTITION,
// partition is wholeDisk: the range the disk's carved files are saved from.
int OpenAndRead(SaveRequest& request, DiskList& list, DiskRecord*& disk, PartitionRecord*& partition,
                PartitionRecord& wholeDisk) {
  if (OperationBusy().load()) {
    std::fprintf(stderr, "quorvel: %s\n", kBusyText);
    return kExitNotFound;
  }
  const int opened = OpenRequestedPartition(request.where, list, disk, partition, wholeDisk);
  if (opened != kExitDone) return opened;
  const bool carvedOnly = partition == &wholeDisk;
  if (!carvedOnly && SaveEngineModeForFsKind(partition->fsKind) == kNoSaveEngine) {
    std::string why = NoReaderMessage(*partition);
    std::fprintf(stderr, "quorvel: %s\n", why.empty() ? "no files can be read from this partition" : why.c_str());
    return kExitNotFound;
  }
  // Writing onto the source could overwrite the very sectors being recovered.
  const std::string& target = request.options.targetFolder;
  if (!request.allowSameDisk && TargetReachesSource(target, *disk, partition)) {
    std::fprintf(stderr,
                 "quorvel: %s\n"
                 "quorvel: %s lies on the source (%s); choose a folder on another drive, or pass --allow-same-disk\n",
                 kSameDriveText, target.c_str(), disk->devicePath.c_str());
    return kExitNotFound;
  }
  if (carvedOnly) return kExitDone;
  return ReadRequestedTree(request.where, *disk, *partition);
}

// ---- select -----------------------------------------------------------------

// The entries the request's paths name, in tree order; an entry inside
// another named one is saved with it, once.
int SelectEntriesOfPaths(const SaveRequest& request, DiskRecord& disk, PartitionRecord& partition,
                         SaveSelection& selection, bool carvedOnly) {
  std::vector<PathMatch> matches;
  for (const std::string& path : request.paths) {
    std::vector<PathMatch> found = MatchPath(path, disk, partition, carvedOnly);
    if (found.empty()) {
      const std::string& where = carvedOnly ? disk.Identity() : partition.name;
      std::fprintf(stderr, "quorvel: no entry \"%s\" on %s (paths are listed by `quorvel ls`)\n", path.c_str(),
                   where.c_str());
      return kExitNotFound;
    }
    matches.insert(matches.end(), found.begin(), found.end());
  }
  selection.entries = SelectMatches(matches, disk, partition, carvedOnly, request.paths.empty());
  return kExitDone;
}

// ---- check ------------------------------------------------------------------

// Free bytes where the target will be: asked of the nearest folder that
// exists, so a refusal leaves nothing behind.
uint64_t FreeBytesAtTarget(const std::string& target) {
  std::error_code ec;
  std::filesystem::path existing = target;
  while (!std::filesystem::exists(existing, ec) && existing.has_parent_path() && existing != existing.parent_path())
    existing = existing.parent_path();
  if (!std::filesystem::exists(existing, ec)) existing = ".";
  return FreeSpaceBytes(existing.string());
}

// Refuses a target without room; bytesToSave receives what the files take.
int CheckTarget(const SaveSelection& selection, const DiskRecord& disk, const PartitionRecord& partition,
                uint64_t& bytesToSave) {
  const std::string& target = selection.options.targetFolder;
  const SaveCheck check = CheckSaveSelection(selection, disk, partition, FreeBytesAtTarget(target));
  bytesToSave = check.bytesToSave;
  if (check.refusal == SaveRefusal::kSpaceShort) {
    std::fprintf(stderr, "quorvel: %s\nquorvel: not enough room: %llu bytes to save, %llu free at %s\n",
                 kSpaceShortText, static_cast<unsigned long long>(check.bytesToSave),
                 static_cast<unsigned long long>(check.bytesFree), target.c_str());
    return kExitNotFound;
  }
  if (!CreateFolderChain(target)) {
    std::fprintf(stderr, "quorvel: cannot create the folder %s: %s\n", target.c_str(), std::strerror(errno));
    return kExitNotFound;
  }
  return kExitDone;
}

// ---- run and report -----------------------------------------------------------

unsigned long long U(uint64_t value) { return static_cast<unsigned long long>(value); }

void PrintSummary(const SaveRun& run, const std::string& target, bool quiet) {
  const SaveSummary& s = run.summary;
  std::printf("saved to %s\n", TerminalSafe(target).c_str());
  if (s.stopped)
    std::printf("stopped: the files being written were removed; %llu files saved complete\n", U(s.FilesComplete()));
  std::printf("files written: %llu (complete: %llu, incomplete: %llu)\n", U(s.filesWritten), U(s.FilesComplete()),
              U(s.filesIncomplete));
  std::printf("bytes written: %llu (%s)\n", U(s.bytesWritten),
              ByteSizeText(static_cast<double>(s.bytesWritten)).c_str());
  std::printf("files skipped: %llu", U(s.Skipped()));
  if (s.Skipped()) {
    std::printf(" (target could not be created: %llu, MFT record unreadable: %llu, writing failed: %llu)",
                U(s.skippedTargetNotCreated), U(s.skippedRecordUnreadable), U(s.skippedWriteFailed));
  }
  std::printf("\n");
  if (s.emptyNoSignature)
    std::printf("left empty (no cluster passed the file type's signature test): %llu\n", U(s.emptyNoSignature));
  if (s.filesIncomplete) {
    std::printf("incomplete (written as far as their data could be read): %llu\n", U(s.filesIncomplete));
    for (const IncompleteFile& f : s.incomplete)
      std::printf("  %s: %llu of %llu bytes missing (%s)\n", TerminalSafe(f.path).c_str(), U(f.missing), U(f.size),
                  SaveNoteText(f.why));
  }
  if (s.mftErrors) std::printf("MFT records not found where recorded: %llu\n", U(s.mftErrors));
  if (!quiet) {
    for (const SaveNote& note : s.notes) {
      std::fprintf(stderr, "  %s: %s%s%s\n", SaveNoteText(note.kind), TerminalSafe(note.path).c_str(),
                   note.error.empty() ? "" : ": ", note.error.c_str());
    }
  }
}

void PrintSummaryJson(const SaveRun& run, const std::string& target) {
  const SaveSummary& s = run.summary;
  JsonWriter json;
  json.BeginObject().Field("target", target).Key("complete").Bool(!s.stopped);
  json.Field("files_written", s.filesWritten).Field("files_complete", s.FilesComplete());
  json.Field("files_incomplete", s.filesIncomplete).Field("bytes_written", s.bytesWritten);
  json.Field("files_skipped", s.Skipped());
  json.Key("skipped").BeginObject();
  json.Field("target_not_created", s.skippedTargetNotCreated).Field("record_unreadable", s.skippedRecordUnreadable);
  json.Field("write_failed", s.skippedWriteFailed).EndObject();
  json.Field("left_empty", s.emptyNoSignature).Field("mft_errors", s.mftErrors);
  json.Key("incomplete").BeginArray();
  for (const IncompleteFile& f : s.incomplete) {
    json.BeginObject().Field("path", f.path).Field("id", f.id).Field("size", f.size).Field("written", f.written);
    json.Field("missing", f.missing).Field("reason", SaveNoteCode(f.why)).EndObject();
  }
  json.EndArray();
  json.Key("notes").BeginArray();
  for (const SaveNote& note : s.notes)
    json.BeginObject()
        .Field("reason", SaveNoteCode(note.kind))
        .Field("path", note.path)
        .Field("error", note.error)
        .EndObject();
  json.EndArray().EndObject();
  std::printf("%s\n", json.text().c_str());
}

// Runs the selection's jobs in one multi-select run: kExitStopped on a stop,
// kExitIncomplete when a file was left incomplete or could not be written.
int RunSelection(const SaveSelection& selection, DiskRecord& disk, PartitionRecord& partition, uint64_t bytesToSave,
                 bool quiet, bool json) {
  const std::string& target = selection.options.targetFolder;
  SharedSource source = OpenSaveSource(disk, partition);
  if (!source) {
    std::fprintf(stderr, "quorvel: cannot open %s for reading\n", disk.devicePath.c_str());
    return kExitNotFound;
  }
  SaveRun run;
  ScanProgress progress;
  TerminalProgressBar bar(quiet);
  // Each file restarts the bar's range: throughput and time left count the
  // bytes of the whole run.
  bar.MeasureBytes(bytesToSave, [&run] { return run.runBytes; });
  progress.sink = &bar;
  InterruptStopsProgress interrupt(progress);
  progress.SetText(kProgressText);
  std::vector<SaveJob> jobs = PrepareSaveJobs(disk, partition, selection, source, &progress);
  MultiSelectSaveThreadMain(jobs, run);
  bar.Close();
  if (interrupt.Interrupted()) run.summary.stopped = true;
  if (run.summary.stopped) {
    const std::string consequence = "the files being written were removed; the files saved so far stay in " + target;
    SayStopped(consequence.c_str());
  }
  if (json)
    PrintSummaryJson(run, target);
  else
    PrintSummary(run, target, quiet);
  if (run.summary.stopped) return kExitStopped;
  return run.summary.AllComplete() ? kExitDone : kExitIncomplete;
}

int RunSave(const ParsedArgs& parsed) {
  SaveRequest request;
  if (int status = ResolveRequest(parsed, request); status != kExitDone) return status;
  DiskList list;
  KeepUntilExit keep(list);
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  PartitionRecord wholeDisk;
  SetStopConsequence("the partition was not read to its end; nothing was saved");
  if (int status = OpenAndRead(request, list, disk, partition, wholeDisk); status != kExitDone) return status;

  SaveSelection selection;
  selection.options = request.options;
  selection.multiSelect = true;
  if (int status = SelectEntriesOfPaths(request, *disk, *partition, selection, partition == &wholeDisk);
      status != kExitDone)
    return status;
  const ScanFileOption& scanFile = request.where.scanFile;
  if (selection.entries.empty()) {
    std::fprintf(stderr, "quorvel: nothing to save\n");
    return WithScanFileStatus(kExitDone, scanFile);
  }
  uint64_t bytesToSave = 0;
  if (int status = CheckTarget(selection, *disk, *partition, bytesToSave); status != kExitDone) return status;
  return WithScanFileStatus(RunSelection(selection, *disk, *partition, bytesToSave, request.where.quiet, request.json),
                            scanFile);
}

CommandRegistrar reg({
    kName,
    "save SOURCE... [PARTITION] --to DIR [--path PATH]... [--deleted] [--normal] [--filter PATTERN] "
    "[--no-fat-reference] [--format-scan | --deep-scan] [--lost-partitions[=precise]] [--scan FILE] "
    "[--allow-same-disk] [--json] [--quiet]",
    "save files of a partition (or the carved files of a disk) into a folder",
    {{"SOURCE...",
      "as for ls: one source, or several image or device paths whose dynamic-disk group holds the\n"
      "volume (not with --deep-scan or --lost-partitions)"},
     {"PARTITION",
      "a row's text, a volume of the group, or a 0-based index; may be left out only with\n"
      "--deep-scan, or with --scan and one SOURCE (the files carved from the whole disk are then saved)"}},
    {{"--to", "DIR", "the target folder (made when missing); it must not lie on the source (see\n--allow-same-disk)"},
     {"--path", "PATH",
      "save this entry (a folder with everything below it), as `quorvel ls` prints its path:\n"
      "根目录/docs/a.txt, \"Extra Found Files\" or \"Extra Found Files/NAME\"; repeatable; without it\n"
      "everything is saved"},
     {"--deleted", nullptr, "only deleted files (with --normal as well, or with neither: all files)"},
     {"--normal", nullptr, "only normal (not deleted) files"},
     {"--filter", "PATTERN", "only files whose names match (*.jpg, report)"},
     {"--no-fat-reference", nullptr, "FAT: read deleted typed files without the signature test of their clusters"},
     {"--format-scan", nullptr, "format recovery first (as `ls --format-scan`)"},
     {"--deep-scan", nullptr,
      "deep scan first (as `ls --deep-scan`): found volumes and carved files can be saved in the\n"
      "same command"},
     LostScanOptionSpec("scan the disk for lost partitions first (as `ls --lost-partitions`)"),
     {"--scan", "FILE",
      "load a scan-result file of an earlier scan first (as `ls --scan`): the partitions it found and\n"
      "its carved files are saved without scanning again"},
     {"--allow-same-disk", nullptr, "write onto the source disk anyway (may overwrite what is being recovered)"},
     {"--json", nullptr, "print the summary as JSON (counts, every incomplete file, the notes)"},
     {"--quiet", nullptr, "no progress bar, no list of noted files"}},
    "Saved files land under DIR with the folder chain from the special folder down\n"
    "(DIR/根目录/docs/a.txt); an existing file is never overwritten (a.txt0.txt, a.txt1.txt, ...).\n"
    "Carved files are written under DIR/Extra Found Files/, each at its carved size from its start\n"
    "sector. The summary on stdout counts the files written, the bytes, the files skipped and the\n"
    "files written incomplete; stderr names each noted file. A file whose data cannot all be read\n"
    "(failing sectors, an image cut short) is written as far as it can be, unreadable stretches as\n"
    "zeros, and reported incomplete with the bytes missing; a file whose writing fails, or that is\n"
    "being written when Ctrl-C stops the save, is removed.\n"
    "\n"
    "exit status: 0 every file saved complete, 1 usage error, 2 not found, not readable or refused (or a\n"
    "scan file not readable, for another disk or damaged: what was whole in it is used), 3 stopped,\n"
    "4 finished, but some files are incomplete or could not be written\n",
    &RunSave,
    1,
});

}  // namespace

}  // namespace quorvel::cli
