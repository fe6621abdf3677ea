// Source reads, progress texts and counting shared by the save engines.
#include <cinttypes>

#include "save/save_engines.h"
#include "scan/mft_record.h"

namespace quorvel {

size_t ReadSourceSectors(const PartitionRecord& partition, SectorDevice* device, uint64_t sector, void* buffer,
                         size_t length) {
  uint64_t bytesPerSector = partition.bytesPerSector ? partition.bytesPerSector : kSectorSize;
  uint64_t position = sector * bytesPerSector;
  // Plain partitions read at the device's position, composite volumes by
  // position; both are given the same byte offset.
  if (device) device->Seek(position);
  size_t got = 0;
  ReadPartitionData(&partition, got, device, buffer, length, position);
  return got;
}

bool ReadEntryRecord(SectorDevice* device, const NtfsFileEntry& entry, const PartitionRecord& partition,
                     RecordDetails& details, bool& mftError) {
  mftError = false;
  if (partition.RecordSectorMap.empty())
    return ReadMftRecord(device, entry.recordNumber, details, partition, partition.MftRunList);
  mftError = ReadMftRecordByPosition(device, entry.recordNumber, details, partition, partition.MftRunList, entry) !=
             RecordByPositionResult::kRead;
  return !mftError;
}

std::string SavedBytesText(uint64_t bytes) { return FormatText("%" PRIu64 " BYTE被保存", bytes); }

std::string SavedTotalText(uint64_t total) {
  if (total < 1024) return SavedBytesText(total);
  if (total < 0x100000) return FormatText("%.2f KB被保存", static_cast<double>(total) / 1024.0);
  if (total < 0x40000000) return FormatText("%.2f MB被保存", static_cast<double>(total) / (1024.0 * 1024.0));
  return FormatText("%.2f GB被保存", static_cast<double>(total) / (1024.0 * 1024.0 * 1024.0));
}

void ReportFileBytes(ScanProgress& progress, const SaveRun& run, uint64_t fileBytes) {
  progress.SetText(SavedBytesText(run.multiSelect ? run.runBytes + fileBytes : fileBytes));
}

void CountSavedFile(SaveRun& run, uint64_t bytesWritten, uint64_t expectedSize) {
  run.summary.filesWritten++;
  run.summary.bytesWritten += bytesWritten;
  run.runBytes += bytesWritten;
  if (bytesWritten < expectedSize) run.summary.shorterThanSize++;
}

}  // namespace quorvel
