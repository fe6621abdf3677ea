#pragma once
// The disk page: every disk and its partitions, and the commands that work on
// a whole disk or partition. What the main button, a double-click and the
// context menu do depends on the function chosen in the main window.
#include <QColor>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

#include "model/disk_records.h"
#include "recover/deep_scan_launch.h"
#include "ui/tree_list_ctrl.h"
#include "ui/worker_thread.h"

class QLabel;
class QMenu;

namespace quorvel {

class CHDTreeListCtrl;
class CFileDlg;
class CImgDlg;
class CProgressDlg;
class CSearchDiskPart;
class CXPButton;

class CHdDlg : public QWidget {
  Q_OBJECT

 public:
  using Row = CTreeListCtrl::Row;

  CHdDlg(DiskList& disks, CFileDlg* filePage, QWidget* parent = nullptr);
  ~CHdDlg() override;

  // The main window's function (0..5): caption of the main button and the
  // buttons shown.
  void SetFunction(int function, const QString& mainButtonText);
  int Function() const { return function_; }

  // Rebuilds every row from the disk list.
  void FillTree();
  // Commands.
  void OnMainAction();
  void OnScan();
  void OnSaveScanResult();
  void OnOpenScanResult();
  void OnStop();
  // Adds an image file to the disk list (asks for it when path is empty).
  void OpenImageFile(const QString& path = QString());
  // The context menu of a row for the current function, or null when the
  // function shows none there. The caller owns it.
  QMenu* BuildContextMenu(Row row);

  void SetStatus(const QString& text, bool warning);
  QString StatusText() const;
  // The disks and images that could not be opened (disk_list_problems.h);
  // the idle status line says so while they are missing, or that the list
  // is empty.
  void SetListProblems(const QStringList& problems);
  // "状态提示...", or in red why disks are missing.
  void ShowIdleStatus();
  QColor StatusColour() const { return statusColour_; }
  CHDTreeListCtrl* Tree() const { return tree_; }
  CXPButton* MainButton() const { return mainButton_; }
  CXPButton* StopButton() const { return stopButton_; }
  CXPButton* ScanButton() const { return scanButton_; }
  CXPButton* SaveButton() const { return saveButton_; }
  CXPButton* ImageButton() const { return imageButton_; }
  // The progress dialog of the page's scans, created on first use.
  CProgressDlg* ProgressDialog();
  // The disk a whole-disk scan ran over last (its identity text).
  QString LastScannedDisk() const { return lastScannedDisk_; }
  bool ScanIdle() const { return !deepScan_ || deepScan_->Finished(); }

  // Function 4 hands the imaging source ("disk" or "disk,partition") here;
  // by default it opens the imaging dialog.
  std::function<void(const QString& source)> openImaging;
  // The imaging dialog, created on first use (null before).
  CImgDlg* ImagingDialog() const { return imgDlg_; }
  void OpenImagingDialog(const QString& source);
  // Stops a running copy and waits for it (the main window is closing).
  void StopImaging();

  // Function 2 on a disk row: the scan-mode dialog, then the lost-partition
  // scan on a worker; the disk's row gains the partitions found.
  void StartLostPartitionScan(const QString& diskIdentity);
  // Adds a row for every partition of the disk that its row does not show yet
  // (after a scan added partitions); existing rows stay as they are.
  void UpdateDiskRow(const DiskRecord& disk);
  // How the scan-mode dialog is run (default: modally); true for OK.
  std::function<bool(CSearchDiskPart&)> runSearchDialog;
  // How the scan-result file is chosen (default: the save and open file
  // dialogs); an empty path means cancelled.
  std::function<QString(const QString& suggestedName)> chooseSaveScanFile;
  std::function<QString()> chooseOpenScanFile;
  bool WorkersIdle() const { return workers_.Idle(); }

 signals:
  // The selection the page acts on (disk identity and partition row text).
  void SelectionStored(const QString& disk, const QString& partition);
  // Empty the file lists of the partition shown last, before a new run.
  void DiscardRequested();
  // A run was started: show the file page for this disk and partition.
  void FilePageOpened(const QString& disk, const QString& partition);
  // The lost-partition scan ended and the disk's row is up to date.
  void LostPartitionScanFinished(bool completed);
  // A deep scan ended (also when stopped); its rows are added by then.
  void DeepScanFinished(const DeepScanOutcome& outcome);
  // Saving or opening a scan-result file ended; the status line says how.
  void ScanFileFinished();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool StoreSelection(Row& diskRow, Row& partitionRow);
  // Image, label, type, start, size and colour of a partition's row; rows
  // added after a scan name only the FAT and NTFS types.
  void SetPartitionRow(Row row, const PartitionRecord& partition, bool typeOfEveryKind);
  void StartDeepScan(Row diskRow, Row partitionRow);
  // The disk whose identity a row shows, or null.
  DiskRecord* DiskOfRow(Row row);
  // After a scan-result file replaced the disk's partitions: its rows anew.
  void RefillDiskRow(const DiskRecord& disk);
  void OnDeepScanFinished(DiskRecord& disk, const DeepScanOutcome& outcome);
  void LayoutButtons();
  void ShowContextMenu(Row row, const QPoint& globalPoint);

  DiskList& disks_;
  CFileDlg* filePage_;
  CHDTreeListCtrl* tree_ = nullptr;
  CXPButton* mainButton_ = nullptr;
  CXPButton* stopButton_ = nullptr;
  CXPButton* scanButton_ = nullptr;
  CXPButton* saveButton_ = nullptr;
  CXPButton* imageButton_ = nullptr;
  QLabel* status_ = nullptr;
  QColor statusColour_;
  int function_ = 0;
  CImgDlg* imgDlg_ = nullptr;
  CProgressDlg* progress_ = nullptr;
  WorkerPool workers_;
  QString lastScannedDisk_;
  QStringList listProblems_;
  std::unique_ptr<DeepScanRun> deepScan_;
};

}  // namespace quorvel
