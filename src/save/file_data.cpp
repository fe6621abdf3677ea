#include "save/file_data.h"

#include <algorithm>

#include "save/save_engines.h"
#include "save/source_copy.h"

namespace quorvel {

void FileDataTally::Known(uint64_t offset, uint64_t length) {
  if (length == 0) return;
  known += length;
  end = std::max(end, offset + length);
}

void FileDataTally::Add(uint64_t offset, const CarefulReadResult& read, uint64_t counted) {
  known += read.read;
  if (read.read) end = std::max(end, offset + read.end);
  if (read.read < counted) unreadable = true;
}

uint64_t JobReadLimit(const SaveJob& job) {
  const PartitionRecord& p = *job.partition;
  return PartitionReadLimit(*job.source, p.startSector, p.sectorCount, JobSectorBytes(job));
}

uint64_t JobSourceEnd(const SaveJob& job) { return job.source->Size() ? job.source->Size() : UINT64_MAX; }

void ReadFileData(const SaveJob& job, uint64_t sector, std::span<uint8_t> buffer, uint64_t fileOffset, size_t counted,
                  uint64_t limit, FileDataTally& tally) {
  const uint64_t sectorBytes = JobSectorBytes(job);
  if (sector > UINT64_MAX / sectorBytes) {
    ZeroRest(buffer, 0);
    tally.Add(fileOffset, {}, counted);
    return;
  }
  const CarefulReadResult read = ReadCarefully(*job.source, sector * sectorBytes, buffer, counted, limit, sectorBytes);
  tally.Add(fileOffset, read, counted);
}

bool CopyFileData(const SaveJob& job, uint64_t sector, std::span<uint8_t> buffer, uint64_t fileOffset, size_t counted,
                  uint64_t limit, FileDataTally& tally, TargetFile& file, bool writeUnread) {
  const uint64_t sectorBytes = JobSectorBytes(job);
  file.Seek(fileOffset);
  size_t direct = 0;
  if (sector <= UINT64_MAX / sectorBytes && sector * sectorBytes < limit && limit - sector * sectorBytes >= counted) {
    direct = file.CopyFrom(*job.source, sector * sectorBytes, counted, static_cast<size_t>(sectorBytes));
    tally.Known(fileOffset, direct);
  }
  if (direct == counted) return true;
  // From the first sector that did not come on: read, retried sector by
  // sector, so the failing side (source or target) shows for what it is.
  const std::span<uint8_t> rest = buffer.subspan(direct);
  const size_t restCounted = counted - direct;
  const uint64_t knownBefore = tally.known;
  ReadFileData(job, sector + direct / sectorBytes, rest, fileOffset + direct, restCounted, limit, tally);
  if (tally.known == knownBefore && !writeUnread) {
    file.Seek(fileOffset + counted);
    return true;
  }
  return file.Write(rest.data(), restCounted);
}

void FinishFile(SaveRun& run, TargetFile& file, uint64_t size, uint64_t id, const FileDataTally& tally,
                SaveNoteKind whyShort) {
  const uint64_t known = std::min(tally.known, size);
  if (known < size && tally.end < file.Length() && !file.SetLength(tally.end)) {
    FailWrite(run, file);
    return;
  }
  SaveSummary& summary = run.summary;
  summary.filesWritten++;
  summary.bytesWritten += file.Length();
  run.runBytes += file.Length();
  if (known < size) {
    summary.filesIncomplete++;
    const SaveNoteKind why = tally.unreadable ? SaveNoteKind::kSourceUnreadable : whyShort;
    summary.incomplete.push_back({file.path(), id, size, file.Length(), size - known, why});
  }
  file.Close();
}

void FailWrite(SaveRun& run, TargetFile& file) {
  const int error = file.lastError();
  file.Discard();
  NoteFile(run, SaveNoteKind::kWriteFailed, file.path(), error);
}

void DropStoppedFile(SaveRun& run, TargetFile& file) {
  file.Discard();
  run.summary.stopped = true;
}

}  // namespace quorvel
