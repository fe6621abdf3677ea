#include "ui/hex_view_dlg.h"

#include <QVBoxLayout>
#include <vector>

#include "recover/file_bytes.h"
#include "recover/partition_launch.h"
#include "ui/hex_edit.h"

namespace quorvel {

CHEXVIEWDLG::CHEXVIEWDLG(DiskList& disks, QWidget* parent) : QDialog(parent), disks_(disks) {
  hex_ = new CHexEdit(this);
  hex_->SetBytesPerRow(16);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(hex_);
  resize(680, 560);
  setWindowTitle(QStringLiteral("0 sector"));
}

void CHEXVIEWDLG::SetFile(const QString& diskName, const QString& partitionName, const FileRowKey& key) {
  diskName_ = diskName;
  partitionName_ = partitionName;
  key_ = key;
  startSector_ = kNoStartSector;
  kind_ = key.kind == FileRowKey::kFat          ? kFatEntry
          : key.kind == FileRowKey::kNtfs       ? kNtfsEntry
          : key.kind == FileRowKey::kCarvedFile ? kCarvedEntry
                                                : kNoEntry;
}

void CHEXVIEWDLG::SetSectors(const QString& diskName, uint64_t startSector, uint64_t byteCount) {
  diskName_ = diskName;
  startSector_ = startSector;
  byteCount_ = byteCount;
  kind_ = kNoEntry;
}

bool CHEXVIEWDLG::Load() {
  error_.clear();
  mftError_ = false;
  std::vector<uint8_t> bytes;
  std::string error;
  bool ok = false;
  DiskRecord* disk = nullptr;
  for (DiskRecord& d : disks_)
    if (QString::fromStdString(d.Identity()) == diskName_) disk = &d;
  if (!disk) {
    error_ = QStringLiteral("disk not found");
    return false;
  }
  if (startSector_ != kNoStartSector) {
    ok = LoadSectorBytes(disk->devicePath, startSector_, byteCount_, bytes, error);
  } else {
    DiskRecord* found = nullptr;
    PartitionRecord* partition = nullptr;
    if (!FindLaunchTarget(disks_, diskName_.toStdString(), partitionName_.toStdString(), found, partition)) {
      // A partition is also known by its label.
      for (PartitionRecord& p : disk->partitions)
        if (!p.volumeLabel.empty() && QString::fromStdString(p.volumeLabel) == partitionName_) partition = &p;
    }
    if (!partition) {
      error_ = QStringLiteral("partition not found");
      return false;
    }
    if (kind_ == kFatEntry && key_.fat) {
      ok = LoadFatEntryBytes(*disk, *partition, *key_.fat, bytes, error);
    } else if (kind_ == kNtfsEntry && key_.ntfs) {
      ok = LoadNtfsEntryBytes(*disk, *partition, *key_.ntfs, bytes, error, &mftError_);
    } else if (kind_ == kCarvedEntry) {
      auto it = disk->carvedFiles.find(key_.carvedSector);
      ok = it != disk->carvedFiles.end() && LoadCarvedFileBytes(*disk, it->first, it->second, bytes, error);
    }
  }
  if (!ok) {
    error_ = QString::fromStdString(error);
    return false;
  }
  // The device is closed again; the dialog keeps only the copy.
  hex_->SetData(QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
  return true;
}

}  // namespace quorvel
