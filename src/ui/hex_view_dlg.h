#pragma once
// The hex viewer dialog: loads a file's bytes (or a stretch of sectors) into
// memory and shows them in a CHexEdit. Nothing is ever written to the source.
#include <QDialog>
#include <QString>
#include <cstdint>
#include <string>

#include "model/disk_records.h"
#include "ui/file_row_key.h"

namespace quorvel {

class CHexEdit;

class CHEXVIEWDLG : public QDialog {
  Q_OBJECT

 public:
  static constexpr uint64_t kNoStartSector = UINT64_MAX;
  enum EntryKind { kNoEntry = 0, kNtfsEntry = 1, kFatEntry = 2, kCarvedEntry = 3 };

  explicit CHEXVIEWDLG(DiskList& disks, QWidget* parent = nullptr);

  // Opening for a file: disk naming text, partition name and the row's entry.
  void SetFile(const QString& diskName, const QString& partitionName, const FileRowKey& key);
  // Opening for sectors of a disk.
  void SetSectors(const QString& diskName, uint64_t startSector, uint64_t byteCount);
  // Reads the bytes and hands them to the view. False when the source could
  // not be opened (the dialog then has nothing to show).
  bool Load();
  QString LoadError() const { return error_; }
  bool MftError() const { return mftError_; }

  CHexEdit* HexEdit() const { return hex_; }

 private:
  DiskList& disks_;
  QString diskName_, partitionName_;
  uint64_t startSector_ = kNoStartSector;
  uint64_t byteCount_ = 0;
  EntryKind kind_ = kNoEntry;
  FileRowKey key_;
  CHexEdit* hex_ = nullptr;
  QString error_;
  bool mftError_ = false;
};

}  // namespace quorvel
