// `quorvel hex`: the bytes of one file, or of a stretch of sectors, as the
// desktop hex viewer shows them: address, hex and ASCII columns with a
// separator line after every 512-byte sector. Nothing is written to the source.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/exit_without_teardown.h"
#include "cli/number_argument.h"
#include "cli/partition_runs.h"
#include "cli/scan_file_option.h"
#include "cli/tree_output.h"
#include "recover/file_bytes.h"

namespace quorvel::cli {

namespace {

constexpr const char* kName = "hex";
constexpr int kBytesPerRow = 16;

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

template <typename Entry>
const Entry* Descend(const Entry* folder, const std::vector<std::string>& parts) {
  for (size_t i = 1; folder && i < parts.size(); ++i) {
    const Entry* next = nullptr;
    for (const Entry& child : folder->children) {
      if (child.name == parts[i]) {
        next = &child;
        break;
      }
    }
    folder = next;
  }
  return folder;
}

void PrintView(const std::vector<uint8_t>& bytes) {
  std::printf("%d sector\n", static_cast<int>(bytes.size() / 512));
  for (size_t offset = 0; offset < bytes.size(); offset += kBytesPerRow) {
    std::printf("%08X ", static_cast<unsigned>(offset));
    size_t end = std::min(bytes.size(), offset + kBytesPerRow);
    for (size_t i = offset; i < offset + kBytesPerRow; ++i) {
      if (i < end)
        std::printf("%02X ", bytes[i]);
      else
        std::fputs("   ", stdout);
    }
    for (size_t i = offset; i < end; ++i) std::putchar(bytes[i] >= 0x20 && bytes[i] < 0x7F ? bytes[i] : '.');
    std::putchar('\n');
    size_t next = offset + kBytesPerRow;
    if (next % 512 == 0 && next < bytes.size()) {
      std::string label = std::to_string(next / 512) + " sec ";
      std::printf("%s%s\n", label.c_str(), std::string(9 + 4 * kBytesPerRow - label.size(), '-').c_str());
    }
  }
}

// Shows the bytes; `missing` of them could not be read (they show as zeros):
// that is said, and the exit status says the view is incomplete.
int Output(const std::vector<uint8_t>& bytes, bool raw, uint64_t missing) {
  if (raw) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) return kExitUsage;
  } else {
    PrintView(bytes);
  }
  std::fflush(stdout);
  if (missing == 0) return kExitDone;
  std::fprintf(stderr, "quorvel: %" PRIu64 " of the bytes shown could not be read (shown as zeros)\n", missing);
  return kExitIncomplete;
}

int RunHex(const ParsedArgs& parsed) {
  std::string error;
  const bool raw = parsed.Has("--raw");
  const bool sectors = parsed.Has("--sectors");
  const size_t wanted = sectors ? 2 : 3;
  if (parsed.positional.size() > wanted)
    return UsageError(kName, "unexpected argument \"" + parsed.positional[wanted] + "\"");
  if (parsed.positional.size() < wanted) return UsageError(kName, "arguments missing");
  if (sectors && parsed.Has("--scan")) return UsageError(kName, "--scan names a partition's files, not sectors");
  uint64_t start = 0, count = 0;
  if (sectors) {
    const std::string& startText = parsed.Get("--sectors");
    const std::string& countText = parsed.positional[1];
    constexpr uint64_t kMostSectors = kMaxViewBytes / 512;
    if (!ParseNumberArgument(startText, start)) return UsageError(kName, NumberArgumentError("START", startText));
    if (!ParseNumberArgument(countText, count, kMostSectors))
      return UsageError(kName, NumberArgumentError("COUNT", countText, 0, kMostSectors));
    // The last sector shown must be a sector number too.
    if (count > 0 && start > UINT64_MAX - (count - 1))
      return UsageError(kName, "sectors from " + startText +
                                   " on run past the largest sector number: START is at most " +
                                   std::to_string(UINT64_MAX - (count - 1)) + " for COUNT " + countText);
  }
  DiskList list;
  KeepUntilExit keep(list);
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  std::vector<uint8_t> bytes;
  uint64_t missing = 0;
  if (sectors) {
    if (OpenSource(parsed.positional[0], list, disk) != kExitDone) return kExitNotFound;
    // Sectors that do not exist are no bytes to show (not zeros).
    const uint64_t sourceSectors = (disk->sizeBytes + 511) / 512;
    if (start >= sourceSectors || count > sourceSectors - start) {
      // Named without adding the two: START + COUNT may pass 2^64.
      std::fprintf(stderr,
                   "quorvel: %" PRIu64 " sector(s) from sector %" PRIu64 " lie past the end of %s (%" PRIu64
                   " sectors, %" PRIu64 " bytes): START is 0 to %" PRIu64 " and START + COUNT at most %" PRIu64 "\n",
                   count, start, disk->Identity().c_str(), sourceSectors, disk->sizeBytes,
                   sourceSectors ? sourceSectors - 1 : 0, sourceSectors);
      return kExitNotFound;
    }
    if (!LoadSectorBytes(disk->devicePath, start, count * 512, bytes, error, &missing)) {
      std::fprintf(stderr, "quorvel: %s\n", error.c_str());
      return kExitNotFound;
    }
    return Output(bytes, raw, missing);
  }

  ScanFileOption scanFile{parsed.Get("--scan")};
  if (scanFile.given()
          ? OpenSourcesPartitionWithScanFile({parsed.positional[0]}, parsed.positional[1], scanFile, list, disk,
                                             partition) != kExitDone
          : OpenSourcePartition(parsed.positional[0], parsed.positional[1], list, disk, partition) != kExitDone)
    return kExitNotFound;
  const bool quiet = parsed.Has("--quiet") || raw;
  // A loaded scan file's recorded directory sectors rebuild FAT folders, as
  // `ls --scan` shows them.
  const TreeSource read = parsed.Has("--format-scan") ? TreeSource::kFormatRecovery
                          : scanFile.given()          ? TreeSource::kDeepScanResult
                                                      : TreeSource::kAsItStands;
  int status = ReadPartitionTree(*disk, *partition, read, quiet);
  if (status != kExitDone) return status;

  std::vector<std::string> parts = SplitPath(parsed.positional[2]);
  const FileTree& tree = *partition->tree;
  bool found = false;
  if (!parts.empty() && PartitionUsesNtfsTree(*partition)) {
    for (const NtfsFileEntry* special : {&tree.ntfsRoot, &tree.ntfsLost, &tree.ntfsExtension}) {
      if (special->name != parts[0]) continue;
      const NtfsFileEntry* entry = Descend(special, parts);
      if (!entry || IsFolderState(entry->state())) continue;
      bool mftError = false;
      found = LoadNtfsEntryBytes(*disk, *partition, *entry, bytes, error, &mftError, &missing);
      if (mftError) std::fprintf(stderr, "quorvel: mft错误\n");
      break;
    }
  } else if (!parts.empty()) {
    for (const FatFileEntry* special : {&tree.fatRoot, &tree.fatLost}) {
      if (special->name != parts[0]) continue;
      const FatFileEntry* entry = Descend(special, parts);
      if (!entry || IsFolderState(entry->state())) continue;
      found = LoadFatEntryBytes(*disk, *partition, *entry, bytes, error, &missing);
      break;
    }
  }
  if (!found) {
    std::fprintf(stderr, "quorvel: no file \"%s\" on %s %s%s%s\n", parsed.positional[2].c_str(),
                 disk->Identity().c_str(), parsed.positional[1].c_str(), error.empty() ? "" : ": ", error.c_str());
    return kExitNotFound;
  }
  return WithScanFileStatus(Output(bytes, raw, missing), scanFile);
}

CommandRegistrar reg({
    kName,
    "hex SOURCE PARTITION PATH [--format-scan] [--scan FILE] [--raw] [--quiet]\nhex SOURCE --sectors START COUNT "
    "[--raw]",
    "show a file's bytes, or a stretch of sectors, as the desktop hex viewer does",
    {{"SOURCE", "an image file, a device path, a disk number or a disk's identity text"},
     {"PARTITION", "a row's text or 0-based index (see `quorvel disks`)"},
     {"PATH", "the file as `quorvel ls` prints its path (根目录/docs/a.txt)"},
     {"COUNT", "with --sectors: how many 512-byte sectors"}},
    {{"--sectors", "START", "show COUNT sectors of the disk from sector START instead of a file"},
     {"--format-scan", nullptr, "format recovery first (as `ls --format-scan`), so PATH may name an old file"},
     {"--scan", "FILE",
      "load a scan-result file first (as `ls --scan`), so PARTITION may be one an earlier\nscan found"},
     {"--raw", nullptr,
      "the loaded bytes themselves instead of the dump: whole sectors, as the viewer loads them\n"
      "(a file's last sector keeps what follows its end; `quorvel cat` gives a file's exact bytes)"},
     {"--quiet", nullptr, "no progress bar while the partition is read"}},
    "The dump shows 16 bytes a row (offset, hex, ASCII) with a line after every 512-byte sector, as\n"
    "the viewer does; a file is loaded as whole sectors, at most 600 MiB. FAT files follow their\n"
    "cluster chain, NTFS files their data runs (compressed data as stored).\n"
    "\n"
    "exit status: 0 done, 1 usage error, 2 source, partition or file not found or not readable, sectors\n"
    "past the source's end (or a scan file not readable, for another disk or damaged), 4 some bytes\n"
    "shown could not be read (shown as zeros)\n",
    &RunHex,
    2,
    3,
});

}  // namespace

}  // namespace quorvel::cli
