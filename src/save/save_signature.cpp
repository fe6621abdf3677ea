// Saving a FAT file without its chain: contiguously from the first cluster,
// or, for typed files, from every candidate cluster whose first bytes carry
// the type's signature (deleted FAT32 entries may have lost the high word of
// their first cluster).
#include <cstring>
#include <vector>

#include "save/name_repair.h"
#include "save/save_engines.h"
#include "save/source_copy.h"

namespace quorvel {

// Block size of contiguous copies.
constexpr size_t kContiguousBlock = 0xA00000;

bool IsTypedExtension(const std::string& extension, bool multiSelect) {
  static const char* const kAll[] = {"jpg", "jpeg", "doc", "ppt",  "xls",  "pdf",  "mpeg",
                                     "avi", "mp4",  "zip", "docx", "pptx", "xlsx", "rar"};
  // The multi-select save searches only these; the rest are copied.
  size_t count = multiSelect ? 5 : sizeof(kAll) / sizeof(kAll[0]);
  for (size_t i = 0; i < count; ++i)
    if (extension == kAll[i]) return true;
  return false;
}

static bool BytesAt(const uint8_t* data, size_t length, size_t offset, const char* bytes, size_t n) {
  return offset + n <= length && std::memcmp(data + offset, bytes, n) == 0;
}

static uint32_t Le32At(const uint8_t* data, size_t length, size_t offset) {
  if (offset + 4 > length) return 0;
  return static_cast<uint32_t>(data[offset]) | (static_cast<uint32_t>(data[offset + 1]) << 8) |
         (static_cast<uint32_t>(data[offset + 2]) << 16) | (static_cast<uint32_t>(data[offset + 3]) << 24);
}

bool MatchesSignature(const std::string& ext, const uint8_t* d, size_t len, uint64_t size) {
  static const char kContentTypes[] = "[Content_Types].xml";
  if (ext == "jpg" || ext == "jpeg")
    return BytesAt(d, len, 0, "\xFF\xD8\xFF", 3) && (BytesAt(d, len, 6, "JFIF", 4) || BytesAt(d, len, 6, "Exif", 4));
  if (ext == "doc" || ext == "ppt" || ext == "xls") {
    if (!BytesAt(d, len, 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) return false;
    // Each sector of the compound file's allocation table maps 64 KiB.
    uint64_t n = Le32At(d, len, 44);
    return n > 0 && (n - 1) * 65536 < size && size <= n * 65536;
  }
  if (ext == "pdf") return BytesAt(d, len, 0, "%PDF-1", 6);
  if (ext == "mpeg") {
    if (!BytesAt(d, len, 0, "\x00\x00\x01\xBA", 4) || len < 5) return false;
    if (d[4] == 0x21) return BytesAt(d, len, 12, "\x00\x00\x01\xBB", 4);
    if (d[4] == 0x44) return BytesAt(d, len, 14, "\x00\x00\x01\xBB", 4);
    return false;
  }
  if (ext == "avi") {
    if (!BytesAt(d, len, 0, "RIFF", 4) || !BytesAt(d, len, 8, "AVI ", 4) || !BytesAt(d, len, 12, "LIST", 4))
      return false;
    int64_t diff = static_cast<int64_t>(Le32At(d, len, 4)) - static_cast<int64_t>(size) + 12;
    return diff > -512 && diff < 512;
  }
  if (ext == "mp4") return BytesAt(d, len, 4, "ftyp", 4);
  if (ext == "zip") return BytesAt(d, len, 0, "PK\x03\x04", 4) && len >= 49 && !BytesAt(d, len, 30, kContentTypes, 19);
  if (ext == "docx" || ext == "pptx" || ext == "xlsx")
    return BytesAt(d, len, 0, "PK\x03\x04", 4) && BytesAt(d, len, 30, kContentTypes, 19);
  if (ext == "rar") return BytesAt(d, len, 0, "Rar!", 4) && BytesAt(d, len, 4, "\x1A\x07\x00", 3);
  return false;
}

void SaveBySignature(SectorDevice* device, const std::string& targetPath, const std::string& extension,
                     const FatFileEntry& entry, const PartitionRecord& partition, ScanProgress& progress,
                     SaveRun& run) {
  progress.Range(100, 1);
  if (progress.StopRequested()) {
    run.summary.stopped = true;
    return;
  }
  TargetFile file;
  int64_t counter = -1;
  if (!CreateTargetFile(file, targetPath, counter)) {
    run.summary.skippedTargetNotCreated++;
    run.summary.Note("target could not be created: " + targetPath);
    return;
  }
  uint64_t size = entry.size;
  if (size == 0) {
    CountSavedFile(run, 0, 0);
    return;
  }
  if (entry.state() != kDeletedFile && entry.state() != kFile) return;

  uint64_t bytesPerSector = partition.bytesPerSector ? partition.bytesPerSector : kSectorSize;
  uint64_t sectorsPerCluster = partition.sectorsPerCluster ? partition.sectorsPerCluster : 1;
  uint64_t clusterSize = bytesPerSector * sectorsPerCluster;
  auto report = [&](uint64_t written) {
    ReportFileBytes(progress, run, written);
    progress.Pos(written * 100 / size);
  };
  std::string ext = LowerAscii(extension);

  if (!IsTypedExtension(ext, run.multiSelect)) {
    // Clusters 0 and 1 hold no data: an entry pointing there lost its start.
    CopyResult copy;
    if (entry.firstCluster >= 2)
      copy = CopySourceRange(partition, device, partition.dataOrigin + entry.firstCluster * sectorsPerCluster, size,
                             file, kContiguousBlock, progress, report);
    if (copy.writeFailed) {
      run.summary.skippedWriteFailed++;
      run.summary.Note("writing failed: " + file.path());
      return;
    }
    if (copy.stopped) run.summary.stopped = true;
    CountSavedFile(run, copy.written, size);
    ReportFileBytes(progress, run, copy.written);
    progress.Pos(100);
    return;
  }

  // Candidates: every high word up to what the FAT's size allows, with the
  // entry's low word.
  uint64_t fatBytes = static_cast<uint64_t>(partition.fat.sizeSectors) * bytesPerSector;
  uint64_t highLimit = 0, clusterLimit = 0;
  if (IsFat16Kind(partition.fsKind)) {
    highLimit = fatBytes >> 17;
    clusterLimit = fatBytes / 2;
  } else if (IsFat32Kind(partition.fsKind)) {
    highLimit = fatBytes >> 18;
    clusterLimit = fatBytes / 4;
  }
  uint32_t lowWord = entry.firstCluster & 0xFFFF;
  std::vector<uint8_t> cluster(static_cast<size_t>(clusterSize));
  bool matched = false;
  for (uint64_t w = 0; w <= highLimit; ++w) {
    uint64_t candidate = (w << 16) | lowWord;
    if (candidate < 2 || (clusterLimit != 0 && candidate >= clusterLimit)) continue;
    if (run.usedClusters.count(static_cast<uint32_t>(candidate))) continue;
    if (progress.StopRequested()) {
      run.summary.stopped = true;
      break;
    }
    uint64_t sector = partition.dataOrigin + candidate * sectorsPerCluster;
    ReadSourceSectors(partition, device, sector, cluster.data(), cluster.size());
    if (!MatchesSignature(ext, cluster.data(), cluster.size(), size)) continue;
    if (matched) {
      // A further match gets the next free counter name.
      ++counter;
      if (!CreateTargetFile(file, targetPath, counter)) {
        run.summary.skippedTargetNotCreated++;
        run.summary.Note("target could not be created: " + targetPath);
        break;
      }
    }
    matched = true;
    CopyResult copy = CopySourceRange(partition, device, sector, size, file, kContiguousBlock, progress, report);
    file.Close();
    run.usedClusters.insert(static_cast<uint32_t>(candidate));
    if (copy.writeFailed) {
      run.summary.skippedWriteFailed++;
      run.summary.Note("writing failed: " + targetPath);
      break;
    }
    CountSavedFile(run, copy.written, size);
    if (copy.stopped) {
      run.summary.stopped = true;
      break;
    }
  }
  if (!matched) {
    run.summary.emptyNoSignature++;
    run.summary.Note("no cluster passed the signature test (left empty): " + file.path());
  }
  ReportFileBytes(progress, run, matched ? size : 0);
  progress.Pos(100);
}

}  // namespace quorvel
