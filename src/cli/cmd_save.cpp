// `quorvel save SOURCE... [PARTITION] --to DIR [--path PATH]... [--deleted] [--normal]
//  [--filter PATTERN] [--no-fat-reference] [--format-scan | --deep-scan] [--lost-partitions[=precise]]
//  [--scan FILE] [--allow-same-disk] [--quiet]`:
// saves the entries at the given paths (default: the whole tree) the way the
// file page's multi-select save saves ticked rows. The run goes in five
// steps: resolve the arguments, read the partition and select the entries,
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
#include "cli/json_writer.h"
#include "cli/lost_partition_run.h"
#include "cli/partition_runs.h"
#include "cli/scan_file_option.h"
#include "cli/terminal_text.h"
#include "core/operation_busy.h"
#include "core/terminal_progress.h"
#include "platform/free_space.h"
#include "recover/format_info_scan.h"
#include "save/save_engines.h"
#include "save/save_job.h"

namespace quorvel::cli {

namespace {

constexpr const char* kUsage =
    "save SOURCE... [PARTITION] --to DIR [--path PATH]... [--deleted] [--normal] [--filter PATTERN] "
    "[--no-fat-reference] [--format-scan | --deep-scan] [--lost-partitions[=precise]] [--scan FILE] "
    "[--allow-same-disk] [--json] [--quiet]";
constexpr const char* kHelp =
    "arguments:\n"
    "  SOURCE...           as for ls: one source, or several image or device paths whose dynamic-disk\n"
    "                      group holds the volume (not with --deep-scan or --lost-partitions)\n"
    "  PARTITION           a row's text, a volume of the group, or a 0-based index; may be left out\n"
    "                      only with --deep-scan or --scan (the files carved from the whole disk are then\n"
    "                      saved)\n"
    "\n"
    "options:\n"
    "  --to DIR            the target folder; it must not lie on the source (see --allow-same-disk)\n"
    "  --path PATH         save this entry (a folder with everything below it), as `quorvel ls` prints its\n"
    "                      path: 根目录/docs/a.txt, \"Extra Found Files\" or \"Extra Found Files/NAME\";\n"
    "                      repeatable; without it everything is saved\n"
    "  --deleted, --normal only deleted, or only normal files (both, or neither: all files)\n"
    "  --filter PATTERN    only files whose names match (*.jpg, report)\n"
    "  --no-fat-reference  FAT: read deleted typed files without the signature test of their clusters\n"
    "  --format-scan       format recovery first (as `ls --format-scan`)\n"
    "  --deep-scan         deep scan first (as `ls --deep-scan`): found volumes and carved files can be\n"
    "                      saved in the same command\n"
    "  --lost-partitions[=precise]\n"
    "                      scan the disk for lost partitions first (as `ls --lost-partitions`)\n"
    "  --scan FILE         load a scan-result file of an earlier scan first (as `ls --scan`): the\n"
    "                      partitions it found and its carved files are saved without scanning again\n"
    "  --allow-same-disk   write onto the source disk anyway (may overwrite what is being recovered)\n"
    "  --json              print the summary as JSON (counts, every incomplete file, the notes)\n"
    "  --quiet             no progress bar, no list of skipped files\n"
    "\n"
    "Carved files are written under DIR/Extra Found Files/, each at its carved size from its start sector.\n"
    "A file whose data cannot all be read (failing sectors, an image cut short) is written as far as it can\n"
    "be and reported incomplete; a file whose writing fails, or that is being written when Ctrl-C stops the\n"
    "save, is removed.\n"
    "exit status: 0 every file saved complete, 1 usage error, 2 not found, not readable or refused (or a scan\n"
    "file not readable, for another disk or damaged: what was whole in it is used), 3 stopped,\n"
    "4 finished, but some files are incomplete or could not be written\n";

// What the command words (the file page words the same refusals its own way).
constexpr const char* kBusyText = "警告: 请等待当前操作完成!";
constexpr const char* kNoTargetText = "警告: 请选择保存路径!";
constexpr const char* kSpaceShortText = "目标盘空间不足，请重新选择盘!";
constexpr const char* kSameDriveText = "将文件放回原分区行为危险";
constexpr const char* kProgressText = "正在保存文件，请稍等...";

// ---- resolve ----------------------------------------------------------------

struct SaveRequest {
  std::vector<std::string> sources;
  std::string partition;
  std::vector<std::string> paths;  // as `ls` prints them; none: the whole tree
  SaveOptions options;
  bool formatScan = false;
  bool deepScan = false;
  LostScanOption lostScan;
  ScanFileOption scanFile;
  bool allowSameDisk = false;
  bool quiet = false;
  bool json = false;
};

// Parses the arguments into request; kExitDone, or kExitUsage after saying why.
int ResolveRequest(const std::vector<std::string>& args, SaveRequest& request) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"--to", "--path", "--filter", "--scan"}, parsed, error)) {
    std::fprintf(stderr, "quorvel: %s\nusage: quorvel %s\n", error.c_str(), kUsage);
    return kExitUsage;
  }
  static const std::set<std::string> kKnown = {"--to",          "--path",
                                               "--filter",      "--deleted",
                                               "--normal",      "--no-fat-reference",
                                               "--format-scan", "--allow-same-disk",
                                               "--quiet",       "--deep-scan",
                                               "--scan", "--json"};
  for (const auto& [flag, value] : parsed.options) {
    if (!kKnown.count(flag) && !IsLostScanFlag(flag)) {
      std::fprintf(stderr, "quorvel: unknown option %s\nusage: quorvel %s\n", flag.c_str(), kUsage);
      return kExitUsage;
    }
  }
  const bool deep = parsed.Has("--deep-scan");
  const size_t positional = parsed.positional.size();
  // With --scan alone, one SOURCE without PARTITION saves the file's carved files.
  const bool carvedOfFile = !deep && positional == 1 && parsed.Has("--scan") && !parsed.Has("--format-scan");
  if (positional < 1 || (deep && positional > 2) || (!deep && !carvedOfFile && positional < 2) ||
      (deep && parsed.Has("--format-scan"))) {
    std::fprintf(stderr, "usage: quorvel %s\n", kUsage);
    return kExitUsage;
  }
  std::string target = parsed.Get("--to");
  if (!parsed.Has("--to") || target.empty()) {
    std::fprintf(stderr, "quorvel: %s (--to DIR)\nusage: quorvel %s\n", kNoTargetText, kUsage);
    return kExitUsage;
  }
  while (target.size() > 1 && target.back() == '/') target.pop_back();
  const size_t sourceCount = deep || carvedOfFile ? 1 : positional - 1;
  request.sources.assign(parsed.positional.begin(), parsed.positional.begin() + static_cast<long>(sourceCount));
  request.partition = positional > sourceCount ? parsed.positional.back() : std::string();
  request.deepScan = deep;
  request.paths = parsed.GetAll("--path");
  request.options.targetFolder = target;
  request.options.nameFilter = parsed.Get("--filter");
  request.options.useFatReference = !parsed.Has("--no-fat-reference");
  // Without either switch both kinds are saved.
  request.options.recoverDeleted = parsed.Has("--deleted") || !parsed.Has("--normal");
  request.options.recoverNormal = parsed.Has("--normal") || !parsed.Has("--deleted");
  request.formatScan = parsed.Has("--format-scan");
  if (!ParseLostScanOption(parsed, request.lostScan, error)) {
    std::fprintf(stderr, "quorvel: %s\nusage: quorvel %s\n", error.c_str(), kUsage);
    return kExitUsage;
  }
  request.scanFile.path = parsed.Get("--scan");
  request.allowSameDisk = parsed.Has("--allow-same-disk");
  request.quiet = parsed.Has("--quiet");
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
  if (request.deepScan) {
    if (OpenSourceWithScanFile(request.sources.front(), request.scanFile, list, disk) != kExitDone)
      return kExitNotFound;
    const int read = DeepScanForPartition(*disk, request.partition, request.quiet, partition);
    if (read != kExitDone) return read;
    if (!partition) {
      wholeDisk = WholeDiskRange(*disk);
      partition = &wholeDisk;
    }
  } else if (request.partition.empty()) {
    if (request.lostScan.requested) {
      std::fprintf(stderr, "quorvel: --lost-partitions needs PARTITION\nusage: quorvel %s\n", kUsage);
      return kExitUsage;
    }
    if (OpenSourcesPartitionWithScanFile(request.sources, "", request.scanFile, list, disk, partition) != kExitDone)
      return kExitNotFound;
    wholeDisk = WholeDiskRange(*disk);
    partition = &wholeDisk;
  } else {
    const int opened = OpenSourcePartitionAfterScan(request.sources, request.partition, request.lostScan, request.quiet,
                                                    list, disk, partition, &request.scanFile);
    if (opened != kExitDone) return opened;
  }
  const bool carvedOnly = partition == &wholeDisk;
  if (!carvedOnly && SaveEngineModeForFsKind(partition->fsKind) == kNoSaveEngine) {
    std::string why = NoReaderMessage(*partition);
    std::fprintf(stderr, "quorvel: %s\n", why.empty() ? "no files can be read from this partition" : why.c_str());
    return kExitNotFound;
  }
  // Writing onto the source could overwrite the very sectors being recovered.
  const std::string& target = request.options.targetFolder;
  if (TargetOnSourceDrive(target, *disk, *partition) && !request.allowSameDisk) {
    std::fprintf(stderr,
                 "quorvel: %s\n"
                 "quorvel: %s lies on the source (%s); choose a folder on another drive, or pass --allow-same-disk\n",
                 kSameDriveText, target.c_str(), disk->devicePath.c_str());
    return kExitNotFound;
  }
  if (carvedOnly) return kExitDone;
  return request.formatScan ? RunFormatRecovery(*disk, *partition, request.quiet)
                            : RunPartitionCommand(PartitionCommand::kExpand, *disk, *partition, request.quiet);
}

// ---- select -----------------------------------------------------------------

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

// The entries a path names (names from a special folder down, as `ls` prints
// them) go into whole, the folders above them into part. Returns how many
// entries the path named.
template <typename Entry>
size_t MatchPath(const std::vector<Entry*>& specials, const std::vector<std::string>& parts,
                 std::set<const void*>& whole, std::set<const void*>& part) {
  if (parts.empty()) return 0;
  size_t found = 0;
  // Depth-first over every entry that matches the names so far, without
  // recursion; chain holds the matched ancestors.
  std::vector<const Entry*> chain;
  for (Entry* special : specials) {
    if (special->state() == kNoState) continue;
    VisitTree(*static_cast<const Entry*>(special), [&](const Entry& entry, size_t depth) {
      chain.resize(depth);
      if (depth >= parts.size() || entry.name != parts[depth]) return false;
      if (depth + 1 == parts.size()) {
        whole.insert(&entry);
        part.insert(chain.begin(), chain.end());
        ++found;
        return false;
      }
      chain.push_back(&entry);
      return true;
    });
  }
  return found;
}

// The carved files inside the partition whose name is name.
std::vector<uint64_t> CarvedFilesNamed(const DiskRecord& disk, const PartitionRecord& partition,
                                       const std::string& name) {
  std::vector<uint64_t> starts;
  for (auto it = disk.carvedFiles.lower_bound(partition.startSector);
       it != disk.carvedFiles.end() && it->first - partition.startSector < partition.sectorCount; ++it)
    if (it->second.name == name) starts.push_back(it->first);
  return starts;
}

// The entries the request's paths name, in tree order; an entry inside
// another named one is saved with it, once. "Extra Found Files" names the
// carved files inside the partition, "Extra Found Files/NAME" one of them.
int SelectEntriesOfPaths(const SaveRequest& request, DiskRecord& disk, PartitionRecord& partition,
                         SaveSelection& selection, bool carvedOnly) {
  FileTree& tree = *partition.tree;
  const bool fat = SaveEngineModeForFsKind(partition.fsKind) == kClusterMode;
  std::set<const void*> whole, part;
  bool carvedFolder = request.paths.empty();
  std::set<uint64_t> carvedStarts;
  if (request.paths.empty()) {
    for (const void* special : {static_cast<const void*>(&tree.fatRoot), static_cast<const void*>(&tree.fatLost),
                                static_cast<const void*>(&tree.ntfsRoot), static_cast<const void*>(&tree.ntfsLost),
                                static_cast<const void*>(&tree.ntfsExtension)})
      whole.insert(special);
  }
  for (const std::string& path : request.paths) {
    const std::vector<std::string> parts = SplitPath(path);
    size_t found = 0;
    if (!parts.empty() && !disk.extraFoundFiles.name.empty() && parts[0] == disk.extraFoundFiles.name) {
      if (parts.size() == 1) {
        carvedFolder = true;
        found = 1;
      } else if (parts.size() == 2) {
        for (uint64_t start : CarvedFilesNamed(disk, partition, parts[1])) carvedStarts.insert(start);
        found = CarvedFilesNamed(disk, partition, parts[1]).size();
      }
    } else if (carvedOnly) {
      found = 0;
    } else if (fat) {
      found = MatchPath<FatFileEntry>({&tree.fatRoot, &tree.fatLost}, parts, whole, part);
    } else {
      found = MatchPath<NtfsFileEntry>({&tree.ntfsRoot, &tree.ntfsLost, &tree.ntfsExtension}, parts, whole, part);
    }
    if (found == 0) {
      const std::string& where = carvedOnly ? disk.Identity() : partition.name;
      std::fprintf(stderr, "quorvel: no entry \"%s\" on %s (paths are listed by `quorvel ls`)\n", path.c_str(),
                   where.c_str());
      return kExitNotFound;
    }
  }
  selection.entries = SelectEntries(partition, [&](FileEntryRef entry) {
    const void* at = std::visit([](auto* e) -> const void* { return e; }, entry);
    if (whole.count(at)) return Pick::kWhole;
    return part.count(at) ? Pick::kPart : Pick::kNone;
  });
  if (carvedOnly) selection.entries.clear();
  if (carvedFolder && CarvedFilesInsidePartition(disk, partition)) {
    selection.entries.push_back(CarvedFolderEntry());
  } else {
    for (uint64_t start : carvedStarts) selection.entries.push_back(CarvedFileEntry(start));
  }
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

int CheckTarget(const SaveSelection& selection, const DiskRecord& disk, const PartitionRecord& partition) {
  const std::string& target = selection.options.targetFolder;
  const SaveCheck check = CheckSaveSelection(selection, disk, partition, FreeBytesAtTarget(target));
  if (check.refusal == SaveRefusal::kSpaceShort) {
    std::fprintf(stderr, "quorvel: %s (%llu bytes to save, %llu free on %s)\n", kSpaceShortText,
                 static_cast<unsigned long long>(check.bytesToSave), static_cast<unsigned long long>(check.bytesFree),
                 target.c_str());
    return kExitNotFound;
  }
  if (!CreateFolderChain(target)) {
    std::fprintf(stderr, "quorvel: cannot create the folder %s: %s\n", target.c_str(), std::strerror(errno));
    return kExitNotFound;
  }
  return kExitDone;
}

// ---- run and report -----------------------------------------------------------

const char* NoteText(SaveNoteKind kind) {
  switch (kind) {
    case SaveNoteKind::kTargetNotCreated:
      return "target could not be created";
    case SaveNoteKind::kRecordUnreadable:
      return "MFT record unreadable";
    case SaveNoteKind::kWriteFailed:
      return "writing failed (file removed)";
    case SaveNoteKind::kNoSignature:
      return "no cluster passed the signature test (left empty)";
    case SaveNoteKind::kChainEndedEarly:
      return "chain ended early";
    case SaveNoteKind::kRunsEndBeforeSize:
      return "data runs end before the size";
    case SaveNoteKind::kSourceUnreadable:
      return "data could not be read";
  }
  return "";
}

// The reasons as --json words them.
const char* NoteCode(SaveNoteKind kind) {
  switch (kind) {
    case SaveNoteKind::kTargetNotCreated:
      return "target_not_created";
    case SaveNoteKind::kRecordUnreadable:
      return "record_unreadable";
    case SaveNoteKind::kWriteFailed:
      return "write_failed";
    case SaveNoteKind::kNoSignature:
      return "no_signature";
    case SaveNoteKind::kChainEndedEarly:
      return "chain_ended_early";
    case SaveNoteKind::kRunsEndBeforeSize:
      return "runs_end_before_size";
    case SaveNoteKind::kSourceUnreadable:
      return "source_unreadable";
  }
  return "";
}

unsigned long long U(uint64_t value) { return static_cast<unsigned long long>(value); }

void PrintSummary(const SaveRun& run, const std::string& target, bool quiet) {
  const SaveSummary& s = run.summary;
  std::printf("保存到 %s\n", TerminalSafe(target).c_str());
  if (s.stopped)
    std::printf("stopped: the file being written was removed; %llu files saved complete\n", U(s.FilesComplete()));
  std::printf("files written: %llu (complete: %llu, incomplete: %llu)\n", U(s.filesWritten), U(s.FilesComplete()),
              U(s.filesIncomplete));
  std::printf("bytes written: %llu (%s)\n", U(s.bytesWritten), SavedTotalText(s.bytesWritten).c_str());
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
                  NoteText(f.why));
  }
  if (s.mftErrors) std::printf("mft错误: %llu\n", U(s.mftErrors));
  if (!quiet) {
    for (const SaveNote& note : s.notes) {
      std::fprintf(stderr, "  %s: %s%s%s\n", NoteText(note.kind), TerminalSafe(note.path).c_str(),
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
    json.Field("missing", f.missing).Field("reason", NoteCode(f.why)).EndObject();
  }
  json.EndArray();
  json.Key("notes").BeginArray();
  for (const SaveNote& note : s.notes)
    json.BeginObject()
        .Field("reason", NoteCode(note.kind))
        .Field("path", note.path)
        .Field("error", note.error)
        .EndObject();
  json.EndArray().EndObject();
  std::printf("%s\n", json.text().c_str());
}

// Runs the selection's jobs in one multi-select run: kExitStopped on a stop,
// kExitIncomplete when a file was left incomplete or could not be written.
int RunSelection(const SaveSelection& selection, DiskRecord& disk, PartitionRecord& partition, bool quiet, bool json) {
  const std::string& target = selection.options.targetFolder;
  SharedSource source = OpenSaveSource(disk, partition);
  if (!source) {
    std::fprintf(stderr, "quorvel: cannot open %s for reading\n", disk.devicePath.c_str());
    return kExitNotFound;
  }
  ScanProgress progress;
  TerminalProgressBar bar(quiet);
  progress.sink = &bar;
  InterruptStopsProgress interrupt(progress);
  progress.SetText(kProgressText);
  std::vector<SaveJob> jobs = PrepareSaveJobs(disk, partition, selection, source, &progress);
  SaveRun run;
  MultiSelectSaveThreadMain(jobs, run);
  bar.Close();
  if (interrupt.Interrupted()) run.summary.stopped = true;
  if (run.summary.stopped) {
    const std::string consequence = "the file being written was removed; the files saved so far stay in " + target;
    SayStopped(consequence.c_str());
  }
  if (json)
    PrintSummaryJson(run, target);
  else
    PrintSummary(run, target, quiet);
  if (run.summary.stopped) return kExitStopped;
  return run.summary.AllComplete() ? kExitDone : kExitIncomplete;
}

int RunSave(const std::vector<std::string>& args) {
  SaveRequest request;
  if (int status = ResolveRequest(args, request); status != kExitDone) return status;
  DiskList list;
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
  if (selection.entries.empty()) {
    std::fprintf(stderr, "quorvel: nothing to save\n");
    return WithScanFileStatus(kExitDone, request.scanFile);
  }
  if (int status = CheckTarget(selection, *disk, *partition); status != kExitDone) return status;
  return WithScanFileStatus(RunSelection(selection, *disk, *partition, request.quiet, request.json),
                            request.scanFile);
}

CommandRegistrar reg({"save", kUsage, &RunSave,
                      "save files of a partition (or the carved files of a disk) into a folder", kHelp});

}  // namespace

}  // namespace quorvel::cli
