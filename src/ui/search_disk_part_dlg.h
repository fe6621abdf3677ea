#pragma once
// The scan-mode dialog of the lost-partition scan ("扫描丢失磁盘分区"): quick
// (checked at start-up) or precise. Its one result is the scan mode, taken
// from the quick button when OK is pressed.
#include <QDialog>
#include <cstdint>

#include "scan/lost_partitions.h"

class QRadioButton;

namespace quorvel {

class CXPButton;

class CSearchDiskPart : public QDialog {
  Q_OBJECT

 public:
  // tracksPerCylinder: the disk's, handed on to the scan with the mode.
  explicit CSearchDiskPart(uint32_t tracksPerCylinder, QWidget* parent = nullptr);

  LostScanMode Mode() const { return mode_; }
  uint32_t TracksPerCylinder() const { return tracksPerCylinder_; }

  QRadioButton* QuickButton() const { return quick_; }
  QRadioButton* PreciseButton() const { return precise_; }
  CXPButton* OkButton() const { return ok_; }
  CXPButton* CancelButton() const { return cancel_; }

 public slots:
  void accept() override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QRadioButton* quick_ = nullptr;
  QRadioButton* precise_ = nullptr;
  CXPButton* ok_ = nullptr;
  CXPButton* cancel_ = nullptr;
  uint32_t tracksPerCylinder_;
  LostScanMode mode_ = kQuickLostScan;
};

}  // namespace quorvel
