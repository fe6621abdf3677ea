// Saving a FAT file without its chain: contiguously from the first cluster,
// or, for typed files, from every candidate cluster whose first bytes carry
// the type's signature (deleted FAT32 entries may have lost the high word of
// their first cluster).
#include <string_view>
#include <vector>

#include "save/file_data.h"
#include "save/name_repair.h"
#include "save/save_engines.h"
#include "save/source_copy.h"
#include "scan/carving/jpeg_segment_layout.h"
#include "scan/carving/mp4_box_layout.h"
#include "scan/carving/mpeg_pack_header_layout.h"
#include "scan/carving/ole2_header_layout.h"
#include "scan/carving/rar_block_layout.h"
#include "scan/carving/riff_header_layout.h"
#include "scan/carving/zip_local_header_layout.h"

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

bool MatchesSignature(const std::string& ext, ByteView d, uint64_t size) {
  using namespace std::string_view_literals;
  constexpr std::string_view kContentTypes = "[Content_Types].xml";
  if (ext == "jpg" || ext == "jpeg") {
    // The start of image, then the first segment's marker and its name.
    const ByteView first = d.Sub(JpegSegment::kMarkerBytes);
    return d.Matches(0, "\xFF\xD8\xFF"sv) &&
           (first.Matches(JpegSegment::kIdentifier, "JFIF") || first.Matches(JpegSegment::kIdentifier, "Exif"));
  }
  if (ext == "doc" || ext == "ppt" || ext == "xls") {
    if (!d.Matches(Ole2Header::kSignature, Ole2Header::kSignatureBytes)) return false;
    // Each sector of the compound file's allocation table maps 64 KiB.
    const uint64_t n = d.Le32(Ole2Header::kFatSectorCount);
    return n > 0 && (n - 1) * 65536 < size && size <= n * 65536;
  }
  if (ext == "pdf") return d.Matches(0, "%PDF-1");
  if (ext == "mpeg") {
    namespace Pack = MpegPackHeader;
    if (!d.Matches(Pack::kStartCode, "\x00\x00\x01\xBA"sv) || d.size() < 5) return false;
    // The system header right behind a pack header of either version.
    if (d.U8(Pack::kMarker) == Pack::kMpeg1Marker) return d.Matches(Pack::kMpeg1Size, "\x00\x00\x01\xBB"sv);
    if (d.U8(Pack::kMarker) == Pack::kMpeg2Marker) return d.Matches(Pack::kMpeg2Size, "\x00\x00\x01\xBB"sv);
    return false;
  }
  if (ext == "avi") {
    if (!d.Matches(RiffHeader::kMagic, "RIFF") || !d.Matches(RiffHeader::kFormType, "AVI ") ||
        !d.Matches(RiffHeader::kFirstChunk, "LIST"))
      return false;
    const int64_t diff = static_cast<int64_t>(d.Le32(RiffHeader::kSize)) - static_cast<int64_t>(size) + 12;
    return diff > -512 && diff < 512;
  }
  if (ext == "mp4") return d.Matches(Mp4Box::kType, "ftyp");
  // An Office file names "[Content_Types].xml" as its first member.
  const bool zip = d.Le32(ZipLocalHeader::kSignature) == ZipLocalHeader::kSignatureValue;
  if (ext == "zip") return zip && d.size() >= 49 && !d.Matches(ZipLocalHeader::kName, kContentTypes);
  if (ext == "docx" || ext == "pptx" || ext == "xlsx") return zip && d.Matches(ZipLocalHeader::kName, kContentTypes);
  if (ext == "rar") return d.Matches(0, RarBlock::kMarkerBlock);
  return false;
}

namespace {

// The extension of the file name at the end of path.
std::string ExtensionOfTarget(const std::string& path) {
  const size_t slash = path.rfind('/');
  return NameExtension(slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace

void SaveBySignature(const SaveJob& job, const FatFileEntry& entry, const std::string& targetPath, SaveRun& run) {
  const PartitionRecord& partition = *job.partition;
  ScanProgress& progress = *job.progress;
  progress.Range(100, 1);
  if (progress.StopRequested()) {
    run.summary.stopped = true;
    return;
  }
  TargetFile file;
  int64_t counter = -1;
  if (!CreateJobTarget(job, run, file, targetPath, counter)) {
    NoteFile(run, SaveNoteKind::kTargetNotCreated, targetPath, file.lastError());
    return;
  }
  uint64_t size = entry.size;
  if (size == 0) {
    FinishFile(run, file, 0, entry.firstCluster, FileDataTally(), SaveNoteKind::kSourceUnreadable);
    return;
  }
  if (entry.state() != kDeletedFile && entry.state() != kFile) return;

  const uint64_t bytesPerSector = JobSectorBytes(job);
  uint64_t sectorsPerCluster = partition.sectorsPerCluster ? partition.sectorsPerCluster : 1;
  uint64_t clusterSize = bytesPerSector * sectorsPerCluster;
  auto report = [&](uint64_t written) {
    ReportFileBytes(progress, run, written);
    progress.Pos(written * 100 / size);
  };
  const std::string ext = LowerAscii(ExtensionOfTarget(targetPath));

  if (!IsTypedExtension(ext, run.multiSelect)) {
    // Clusters 0 and 1 hold no data: an entry pointing there lost its start.
    FileDataTally tally;
    CopyResult copy;
    if (entry.firstCluster >= 2)
      copy = CopySourceRange(job, partition.dataOrigin + entry.firstCluster * sectorsPerCluster, size, file,
                             kContiguousBlock, JobReadLimit(job), tally, report);
    if (copy.writeFailed) {
      FailWrite(run, file);
      return;
    }
    if (copy.stopped) {
      DropStoppedFile(run, file);
      return;
    }
    FinishFile(run, file, size, entry.firstCluster, tally, SaveNoteKind::kChainEndedEarly);
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
  // Candidates whose first sector lies past the partition's end hold nothing.
  const uint64_t lastSector = JobReadLimit(job) / bytesPerSector;
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
    if (sector >= lastSector) break;
    FileDataTally probe;
    ReadFileData(job, sector, cluster, 0, cluster.size(), JobReadLimit(job), probe);
    if (!MatchesSignature(ext, cluster, size)) continue;
    if (matched) {
      // A further match gets the next free counter name.
      ++counter;
      if (!CreateJobTarget(job, run, file, targetPath, counter)) {
        NoteFile(run, SaveNoteKind::kTargetNotCreated, targetPath, file.lastError());
        break;
      }
    }
    matched = true;
    FileDataTally tally;
    CopyResult copy = CopySourceRange(job, sector, size, file, kContiguousBlock, JobReadLimit(job), tally, report);
    run.usedClusters.insert(static_cast<uint32_t>(candidate));
    if (copy.writeFailed) {
      FailWrite(run, file);
      break;
    }
    if (copy.stopped) {
      DropStoppedFile(run, file);
      break;
    }
    FinishFile(run, file, size, entry.firstCluster, tally, SaveNoteKind::kChainEndedEarly);
  }
  if (!matched) {
    if (run.summary.stopped)
      file.Discard();
    else
      NoteFile(run, SaveNoteKind::kNoSignature, file.path());
  }
  ReportFileBytes(progress, run, matched ? size : 0);
  progress.Pos(100);
}

}  // namespace quorvel
