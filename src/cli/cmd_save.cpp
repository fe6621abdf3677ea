// `quorvel save SOURCE PARTITION --to DIR [--path PATH]... [--deleted] [--normal]
//  [--filter PATTERN] [--no-fat-reference] [--format-scan] [--allow-same-disk] [--quiet]`:
// saves the entries at the given paths (default: the whole tree) the way the
// file page's multi-select save saves ticked rows.
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "cli/cli_interrupt.h"
#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/partition_runs.h"
#include "core/operation_busy.h"
#include "core/terminal_progress.h"
#include "platform/free_space.h"
#include "recover/format_info_scan.h"
#include "save/save_engines.h"
#include "save/save_job.h"

namespace quorvel::cli {

namespace {

constexpr const char* kUsage =
    "save SOURCE... PARTITION --to DIR [--path PATH]... [--deleted] [--normal] [--filter PATTERN] "
    "[--no-fat-reference] [--format-scan] [--allow-same-disk] [--quiet]";

template <typename Entry>
void ClearChecks(Entry& entry) {
  SetCheckState(entry.flags, kUnchecked);
  for (Entry& child : entry.children) ClearChecks(child);
}

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

// Ticks every entry at path (names from a special folder down, as `ls`
// prints them) and marks the folders above it partly ticked. Returns how
// many entries the path named.
template <typename Entry>
size_t TickPath(const std::vector<Entry*>& specials, const std::vector<std::string>& parts) {
  if (parts.empty()) return 0;
  size_t found = 0;
  // Depth-first over every entry that matches the names so far; the chain
  // holds the matched ancestors.
  std::vector<Entry*> chain;
  auto walk = [&](auto&& self, Entry& entry, size_t depth) -> void {
    if (entry.name != parts[depth]) return;
    if (depth + 1 == parts.size()) {
      SetCheckState(entry.flags, kChecked);
      for (Entry* above : chain)
        if (GetCheckState(above->flags) != kChecked) SetCheckState(above->flags, kPartlyChecked);
      ++found;
      return;
    }
    chain.push_back(&entry);
    for (Entry& child : entry.children) self(self, child, depth + 1);
    chain.pop_back();
  };
  for (Entry* special : specials)
    if (special->state() != kNoState) walk(walk, *special, 0);
  return found;
}

void PrintSummary(const SaveRun& run, const std::string& target, bool quiet) {
  const SaveSummary& s = run.summary;
  std::printf("保存到 %s\n", target.c_str());
  std::printf("files written: %llu\n", static_cast<unsigned long long>(s.filesWritten));
  std::printf("bytes written: %llu (%s)\n", static_cast<unsigned long long>(s.bytesWritten),
              SavedTotalText(s.bytesWritten).c_str());
  std::printf("files skipped: %llu", static_cast<unsigned long long>(s.Skipped()));
  if (s.Skipped()) {
    std::printf(" (target could not be created: %llu, MFT record unreadable: %llu, writing failed: %llu)",
                static_cast<unsigned long long>(s.skippedTargetNotCreated),
                static_cast<unsigned long long>(s.skippedRecordUnreadable),
                static_cast<unsigned long long>(s.skippedWriteFailed));
  }
  std::printf("\n");
  if (s.emptyNoSignature)
    std::printf("left empty (no cluster passed the file type's signature test): %llu\n",
                static_cast<unsigned long long>(s.emptyNoSignature));
  if (s.shorterThanSize)
    std::printf("shorter than their size (chain or data runs ended early): %llu\n",
                static_cast<unsigned long long>(s.shorterThanSize));
  if (s.mftErrors) std::printf("mft错误: %llu\n", static_cast<unsigned long long>(s.mftErrors));
  if (!quiet)
    for (const std::string& note : s.notes) std::fprintf(stderr, "  %s\n", note.c_str());
}

int RunSave(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"--to", "--path", "--filter"}, parsed, error)) {
    std::fprintf(stderr, "quorvel: %s\nusage: quorvel %s\n", error.c_str(), kUsage);
    return kExitUsage;
  }
  static const char* const kKnown[] = {"--to",          "--path",
                                       "--filter",      "--deleted",
                                       "--normal",      "--no-fat-reference",
                                       "--format-scan", "--allow-same-disk",
                                       "--quiet"};
  for (const auto& [flag, value] : parsed.options) {
    bool known = false;
    for (const char* k : kKnown) known |= flag == k;
    if (!known) {
      std::fprintf(stderr, "quorvel: unknown option %s\nusage: quorvel %s\n", flag.c_str(), kUsage);
      return kExitUsage;
    }
  }
  if (parsed.positional.size() < 2) {
    std::fprintf(stderr, "usage: quorvel %s\n", kUsage);
    return kExitUsage;
  }
  std::string target = parsed.Get("--to");
  if (!parsed.Has("--to") || target.empty()) {
    std::fprintf(stderr, "quorvel: %s (--to DIR)\nusage: quorvel %s\n", kSaveNoTargetText, kUsage);
    return kExitUsage;
  }
  while (target.size() > 1 && target.back() == '/') target.pop_back();
  const bool quiet = parsed.Has("--quiet");

  if (OperationBusy().load()) {
    std::fprintf(stderr, "quorvel: %s\n", kSaveBusyText);
    return kExitNotFound;
  }
  DiskList list;
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  if (OpenSourcesPartition(std::vector<std::string>(parsed.positional.begin(), parsed.positional.end() - 1),
                           parsed.positional.back(), list, disk, partition) != kExitDone)
    return kExitNotFound;
  if (SaveEngineModeForFsKind(partition->fsKind) == kNoSaveEngine) {
    std::string why = NoReaderMessage(*partition);
    std::fprintf(stderr, "quorvel: %s\n", why.empty() ? "no files can be read from this partition" : why.c_str());
    return kExitNotFound;
  }
  // Writing onto the source could overwrite the very sectors being recovered.
  if (TargetOnSourceDrive(target, *disk, *partition) && !parsed.Has("--allow-same-disk")) {
    std::fprintf(stderr,
                 "quorvel: 将文件放回原分区行为危险\n"
                 "quorvel: %s lies on the source (%s); choose a folder on another drive, or pass --allow-same-disk\n",
                 target.c_str(), disk->devicePath.c_str());
    return kExitNotFound;
  }

  int read = parsed.Has("--format-scan") ? RunFormatRecovery(*disk, *partition, quiet)
                                         : RunPartitionCommand(PartitionCommand::kExpand, *disk, *partition, quiet);
  if (read != kExitDone) return read;

  // Tick what the paths name, as the user ticks rows on the file page.
  FileTree& tree = *partition->tree;
  const bool fat = SaveEngineModeForFsKind(partition->fsKind) == kClusterMode;
  for (FatFileEntry* e : {&tree.fatRoot, &tree.fatLost}) ClearChecks(*e);
  for (NtfsFileEntry* e : {&tree.ntfsRoot, &tree.ntfsLost, &tree.ntfsExtension}) ClearChecks(*e);
  disk->extraFoundFiles.state = static_cast<uint8_t>(disk->extraFoundFiles.state & ~0x03);
  std::vector<std::string> paths = parsed.GetAll("--path");
  if (paths.empty()) {
    for (FatFileEntry* e : {&tree.fatRoot, &tree.fatLost}) SetCheckState(e->flags, kChecked);
    for (NtfsFileEntry* e : {&tree.ntfsRoot, &tree.ntfsLost, &tree.ntfsExtension}) SetCheckState(e->flags, kChecked);
    disk->extraFoundFiles.state = static_cast<uint8_t>(disk->extraFoundFiles.state | kChecked);
  }
  for (const std::string& path : paths) {
    std::vector<std::string> parts = SplitPath(path);
    size_t found = 0;
    if (parts.size() == 1 && !disk->extraFoundFiles.name.empty() && parts[0] == disk->extraFoundFiles.name) {
      disk->extraFoundFiles.state = static_cast<uint8_t>(disk->extraFoundFiles.state | kChecked);
      found = 1;
    } else if (fat) {
      found = TickPath<FatFileEntry>({&tree.fatRoot, &tree.fatLost}, parts);
    } else {
      found = TickPath<NtfsFileEntry>({&tree.ntfsRoot, &tree.ntfsLost, &tree.ntfsExtension}, parts);
    }
    if (found == 0) {
      std::fprintf(stderr, "quorvel: no entry \"%s\" on %s (paths are listed by `quorvel ls`)\n", path.c_str(),
                   partition->name.c_str());
      return kExitNotFound;
    }
  }
  std::vector<SelectedEntry> selected = CollectCheckedEntries(*partition, disk);
  if (selected.empty()) {
    std::fprintf(stderr, "quorvel: nothing to save\n");
    return kExitDone;
  }

  SaveOptions options;
  options.targetFolder = target;
  options.nameFilter = parsed.Get("--filter");
  options.useFatReference = !parsed.Has("--no-fat-reference");
  // Without either switch both kinds are saved.
  options.recoverDeleted = parsed.Has("--deleted") || !parsed.Has("--normal");
  options.recoverNormal = parsed.Has("--normal") || !parsed.Has("--deleted");

  uint64_t total = 0;
  for (const SelectedEntry& entry : selected) total += SelectedBytes(entry, options, disk, *partition);
  // Asked of the nearest folder that exists, so a refusal leaves nothing behind.
  std::string existing = target;
  while (access(existing.c_str(), F_OK) != 0 && existing.find('/') != std::string::npos && existing != "/")
    existing = existing.rfind('/') == 0 ? "/" : existing.substr(0, existing.rfind('/'));
  if (access(existing.c_str(), F_OK) != 0) existing = ".";
  uint64_t freeBytes = FreeSpaceBytes(existing);
  if (MultiSelectSpaceShort(total, freeBytes)) {
    std::fprintf(stderr, "quorvel: %s (%llu bytes to save, %llu free on %s)\n", kSaveSpaceShortText,
                 static_cast<unsigned long long>(total), static_cast<unsigned long long>(freeBytes), target.c_str());
    return kExitNotFound;
  }
  if (!CreateFolderChain(target)) {
    std::fprintf(stderr, "quorvel: cannot create the folder %s\n", target.c_str());
    return kExitNotFound;
  }

  std::shared_ptr<SectorDevice> device = OpenSaveDevice(*disk, *partition);
  if (!device) {
    std::fprintf(stderr, "quorvel: cannot open %s for reading\n", disk->devicePath.c_str());
    return kExitNotFound;
  }
  ScanProgress progress;
  TerminalProgressBar bar(quiet);
  progress.sink = &bar;
  InterruptStopsProgress interrupt(progress);
  progress.SetText(kSaveProgressText);
  std::vector<SaveJob> jobs;
  for (const SelectedEntry& entry : selected) {
    SaveJob job;
    if (PrepareSaveJob(*disk, *partition, entry, options, device, &progress, job)) jobs.push_back(job);
  }
  SaveRun run;
  MultiSelectSaveThreadMain(jobs, run);
  bar.Close();
  PrintSummary(run, target, quiet);
  if (run.summary.stopped || interrupt.Interrupted()) {
    std::fprintf(stderr, "quorvel: stopped; the files written so far stay in %s\n", target.c_str());
    return kExitStopped;
  }
  return kExitDone;
}

constexpr const char* kSummary = "Copy files and folders of a partition or volume into a folder on another drive.";
constexpr const char* kHelp =
    "SOURCE...   as for ls: one source, or several image or device paths whose\n"
    "            dynamic-disk group holds the volume.\n"
    "PARTITION   a row's text, a volume of the group, or a 0-based index.\n"
    "--to DIR    the target folder (must not lie on a source disk unless --allow-same-disk)\n"
    "--path PATH save only this entry (repeatable), e.g. 根目录/docs\n"
    "--deleted / --normal   only deleted or only normal entries\n"
    "--filter PATTERN       only names matching the pattern\n"
    "--no-fat-reference     do not follow the FAT for deleted FAT files\n"
    "--format-scan          rebuild the folders of a formatted volume first\n"
    "--quiet     no progress bar\n";

CommandRegistrar reg({"save", kUsage, &RunSave, kSummary, kHelp});

}  // namespace

}  // namespace quorvel::cli
