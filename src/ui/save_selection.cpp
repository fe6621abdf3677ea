#include "ui/save_selection.h"

#include <cinttypes>
#include <variant>

#include "core/scan_progress.h"
#include "recover/partition_launch.h"
#include "save/save_engines.h"
#include "save/save_job.h"

namespace quorvel {

std::string SingleSaveSpaceText(uint64_t size) {
  const double g = static_cast<double>(size) / (1024.0 * 1024.0 * 1024.0);
  double value;
  const char* unit;
  if (g > 0.0001 && g < 0.1) {
    value = static_cast<double>(size) / (1024.0 * 1024.0);
    unit = " MB";
  } else if (g < 0.0001) {
    value = static_cast<double>(size) / 1024.0;
    unit = " KB";
  } else {
    value = g;
    unit = " GB";
  }
  return FormatText("即将保存 %.1f", value) + unit + ",磁盘空间不够！";
}

std::string SaveDoneText(const SaveSummary& summary, const std::string& targetFolder, bool& warning) {
  // Written, but not whole: the data could not all be read, or no cluster
  // carried the file type's signature.
  const uint64_t incomplete = summary.filesIncomplete + summary.emptyNoSignature;
  warning = summary.stopped || incomplete > 0 || summary.Skipped() > 0;
  if (summary.stopped)
    return FormatText("警告: 保存已停止, 已完整保存 %" PRIu64 " 个文件到 ", summary.FilesComplete()) + targetFolder;
  std::string text =
      FormatText("保存完成: %" PRIu64 " 个文件, ", summary.filesWritten) + SavedTotalText(summary.bytesWritten);
  if (incomplete) text += FormatText(", 其中 %" PRIu64 " 个不完整", incomplete);
  if (summary.Skipped()) text += FormatText(", %" PRIu64 " 个未能保存", summary.Skipped());
  return text + "; 保存到 " + targetFolder;
}

std::vector<SelectedEntry> CollectCheckedEntries(PartitionRecord& partition, DiskRecord* disk) {
  std::vector<SelectedEntry> out = SelectEntries(partition, [](FileEntryRef entry) {
    const uint8_t flags = std::visit([](auto* e) { return e->flags; }, entry);
    switch (GetCheckState(flags)) {
      case kChecked:
        return Pick::kWhole;
      case kPartlyChecked:
        return Pick::kPart;
      default:
        return Pick::kNone;
    }
  });
  // The carved-files folder and its files keep their marks in the low bits of
  // their state: a ticked folder saves all of them, a partly ticked one the
  // ticked files inside the partition.
  if (!disk || !CarvedFilesInsidePartition(*disk, partition)) return out;
  const uint8_t folderMark = disk->extraFoundFiles.state & 0x03;
  if (folderMark == kChecked) {
    out.push_back(CarvedFolderEntry());
  } else if (folderMark == kPartlyChecked) {
    for (auto it = disk->carvedFiles.lower_bound(partition.startSector);
         it != disk->carvedFiles.end() && it->first - partition.startSector < partition.sectorCount; ++it)
      if ((it->second.state & 0x03) == kChecked) out.push_back(CarvedFileEntry(it->first));
  }
  return out;
}

}  // namespace quorvel
