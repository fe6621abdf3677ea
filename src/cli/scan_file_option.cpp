#include "cli/scan_file_option.h"

#include <sys/stat.h>

#include <cstdio>

#include "cli/command_registry.h"
#include "scanfile/scan_file_load.h"
#include "scanfile/scan_file_target.h"
#include "scanfile/scan_file_texts.h"
#include "scanfile/scan_file_writer.h"
#include "volumes/disk_enumeration.h"

namespace quorvel::cli {

namespace {

void SayLoaded(const ScanFileOption& option, const DiskRecord& disk, const ScanFileLoadResult& result) {
  std::fprintf(stderr,
               "quorvel: %s: %s \"%s\": %zu partition(s), %zu logical volume(s), %zu carved file(s), "
               "%zu directory sector(s), %zu MFT fragment(s)%s\n",
               option.path.c_str(), kScanFileOpened, disk.Identity().c_str(), result.partitions, result.logicalVolumes,
               disk.carvedFiles.size(), disk.directorySectors.size(), disk.mftFragments.size(),
               result.encoding == ScanFileEncoding::kGb18030 ? " (read as GB18030)" : "");
}

// A volume listed but not readable is refused with its reason.
int Readable(const PartitionRecord& partition) {
  if (partition.unreadableReason.empty()) return kExitDone;
  std::fprintf(stderr, "quorvel: cannot read %s: %s\n", partition.name.c_str(), partition.unreadableReason.c_str());
  return kExitNotFound;
}

}  // namespace

int LoadScanFileOnto(ScanFileOption& option, const std::vector<DiskRecord*>& candidates, DiskRecord** loadedOnto) {
  std::string named;
  for (DiskRecord* disk : candidates) {
    const ScanFileLoadResult result = LoadScanResult(*disk, option.path);
    switch (result.status) {
      case ScanFileLoadStatus::kCannotOpen:
        std::fprintf(stderr, "quorvel: %s: %s: %s\n", kScanFileOpenFailed, option.path.c_str(), result.error.c_str());
        return kExitNotFound;
      case ScanFileLoadStatus::kOtherDisk:
        named = result.fileIdentity;
        continue;
      case ScanFileLoadStatus::kDamaged:
        option.damaged = true;
        std::fprintf(stderr, "quorvel: %s: %s: %s\n", option.path.c_str(), kScanFileDamaged,
                     ScanFileProblemText(result.problems, result.problemCount).c_str());
        if (result.clippedRanges)
          std::fprintf(stderr, "quorvel: %s: %llu sector range(s) reach past the end of %s: cut to it\n",
                       option.path.c_str(), static_cast<unsigned long long>(result.clippedRanges),
                       disk->Identity().c_str());
        [[fallthrough]];
      case ScanFileLoadStatus::kLoaded:
        SayLoaded(option, *disk, result);
        if (loadedOnto) *loadedOnto = disk;
        return kExitDone;
    }
  }
  std::string disks;
  for (const DiskRecord* disk : candidates) disks += (disks.empty() ? "\"" : ", \"") + disk->Identity() + "\"";
  std::fprintf(stderr, "quorvel: %s: %s was written for \"%s\", not for %s\n", kScanFileOtherDisk, option.path.c_str(),
               named.c_str(), disks.empty() ? "any disk given" : disks.c_str());
  return kExitNotFound;
}

int OpenSourceWithScanFile(const std::string& source, ScanFileOption& option, DiskList& list, DiskRecord*& disk) {
  if (OpenSource(source, list, disk) != kExitDone) return kExitNotFound;
  return option.given() ? LoadScanFileOnto(option, {disk}) : kExitDone;
}

std::vector<DiskRecord*> ScanFileCandidates(DiskList& list, DiskRecord& source) {
  std::vector<DiskRecord*> candidates{&source};
  for (DiskRecord& d : list)
    if (&d != &source && d.diskKind != 0 && !source.groupIdText.empty() && d.groupIdText == source.groupIdText)
      candidates.push_back(&d);
  return candidates;
}

int OpenSourcesPartitionWithScanFile(const std::vector<std::string>& sources, const std::string& partitionText,
                                     ScanFileOption& option, DiskList& list, DiskRecord*& disk,
                                     PartitionRecord*& partition) {
  partition = nullptr;
  std::vector<DiskRecord*> candidates;
  if (sources.size() == 1) {
    if (OpenSource(sources[0], list, disk) != kExitDone) return kExitNotFound;
    candidates = ScanFileCandidates(list, *disk);
  } else {
    for (const std::string& source : sources) {
      struct stat st {};
      if (stat(source.c_str(), &st) != 0 || !OpenImageFile(list, source)) {
        std::fprintf(stderr, "quorvel: cannot open \"%s\" for reading\n", source.c_str());
        return kExitNotFound;
      }
    }
    for (DiskRecord& d : list) candidates.push_back(&d);
  }
  DiskRecord* loaded = nullptr;
  if (LoadScanFileOnto(option, candidates, &loaded) != kExitDone) return kExitNotFound;
  if (partitionText.empty()) {
    if (sources.size() != 1) disk = loaded;
    return kExitDone;
  }
  // The file's disk first: its partitions are what the file is given for.
  std::vector<DiskRecord*> order{loaded};
  for (DiskRecord* d : candidates)
    if (d != loaded && d->diskKind != 0) order.push_back(d);
  for (DiskRecord* d : candidates)
    if (d != loaded && d->diskKind == 0) order.push_back(d);
  for (DiskRecord* d : order) {
    if (PartitionRecord* p = FindPartition(*d, partitionText)) {
      disk = d;
      partition = p;
      return Readable(*p);
    }
  }
  std::fprintf(stderr, "quorvel: no partition \"%s\" on %s, also with the scan file %s\n", partitionText.c_str(),
               loaded->Identity().c_str(), option.path.c_str());
  return kExitNotFound;
}

int CheckSaveScanTarget(const std::string& path, const DiskRecord& disk, bool allowSameDisk) {
  std::string why;
  switch (CheckScanFileTarget(path, disk, &why)) {
    case ScanFileTarget::kFine:
      return kExitDone;
    case ScanFileTarget::kOnSource:
      if (allowSameDisk) return kExitDone;
      std::fprintf(stderr,
                   "quorvel: --save-scan: %s: %s; choose a folder on another drive, or pass --allow-same-disk\n",
                   kScanFileOnSource, why.c_str());
      return kExitUsage;
    case ScanFileTarget::kIsSource:
      std::fprintf(stderr, "quorvel: --save-scan: %s: %s\n", kScanFileOnSource, why.c_str());
      return kExitUsage;
    case ScanFileTarget::kNoFolder:
    case ScanFileTarget::kNotWritable:
      std::fprintf(stderr, "quorvel: --save-scan: %s: %s; nothing was scanned\n", kScanFileCreateFailed, why.c_str());
      return kExitUsage;
  }
  return kExitUsage;
}

int SaveScanFile(const std::string& path, const DiskRecord& disk) {
  const ScanFileSaveResult result = SaveScanResult(disk, path);
  switch (result.status) {
    case ScanFileSaveStatus::kSaved:
      std::fprintf(stderr, "quorvel: %s: %s (%llu bytes)\n", kScanFileSaved, path.c_str(),
                   static_cast<unsigned long long>(result.bytes));
      return kExitDone;
    case ScanFileSaveStatus::kCannotCreate:
      std::fprintf(stderr, "quorvel: %s: %s: %s\n", kScanFileCreateFailed, path.c_str(), result.error.c_str());
      return kExitNotFound;
    case ScanFileSaveStatus::kWriteFailed:
      std::fprintf(stderr, "quorvel: %s: %s: %s\n", kScanFileWriteFailed, path.c_str(), result.error.c_str());
      return kExitNotFound;
  }
  return kExitNotFound;
}

int WithScanFileStatus(int status, const ScanFileOption& option) {
  return status == kExitDone && option.damaged ? kExitNotFound : status;
}

}  // namespace quorvel::cli
