#pragma once
// The file page: the folder tree of one partition on the left, the clicked
// folder's entries on the right, check marks that choose what to save, and the
// save and hex-view commands of both lists.
#include <QColor>
#include <QHash>
#include <QIcon>
#include <QSet>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "model/disk_records.h"
#include "recover/partition_launch.h"
#include "save/save_job.h"
#include "ui/file_row_key.h"
#include "ui/tree_list_ctrl.h"
#include "ui/worker_thread.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QTreeWidgetItem;

namespace quorvel {

class CMyLeftTreelistCtrl;
class CMyRightTreelistCtrl;
class CMySaveFileDlg;
class CHEXVIEWDLG;
class CProgressDlg;
class CXPButton;

class CFileDlg : public QWidget {
  Q_OBJECT

 public:
  using Row = CTreeListCtrl::Row;

  explicit CFileDlg(DiskList& disks, QWidget* parent = nullptr);
  ~CFileDlg() override;

  // Opening a partition (called by the disk page after it emptied the lists).
  // False with the refusal text when nothing was started. With
  // useRecordedSectors a FAT volume's folders are rebuilt from the directory
  // sectors a deep scan or a loaded scan file recorded inside it; without, the
  // volume is shown as it stands.
  bool ExpandPartition(const QString& diskName, const QString& partitionName, QString* refusal,
                       bool useRecordedSectors = false);
  bool ScanFormatInfo(const QString& diskName, const QString& partitionName, QString* refusal);
  // Fills the folder tree from a finished run and lists the partition's top level.
  void FillFolderTree(const FolderTreeView& view);
  // A click on a folder-tree row: lists the folder and pushes its check mark down.
  void ShowFolder(Row row);
  // Lists the current folder again with the entries' stored marks (the filter changed).
  void RefreshList();
  void ClearLists();
  // Empties the current partition's tree as before a new run (not while a worker runs).
  void EmptyCurrentPartition();
  // Lets go of the disk's records (a scan-result file is about to replace its
  // partitions): the lists are emptied and nothing of the disk is kept.
  void ForgetDisk(const DiskRecord* disk);

  // Page state the other windows read.
  ExpansionMode Mode() const { return mode_; }
  DiskRecord* Disk() const { return disk_; }
  PartitionRecord* Partition() const { return partition_; }
  QString DiskName() const { return diskName_; }
  QString PartitionName() const { return partitionName_; }
  QString NameFilter() const { return nameFilter_; }
  void SetNameFilter(const QString& filter);
  bool ListDeleted() const { return listDeleted_; }
  bool ListInUse() const { return listInUse_; }
  void SetListSwitches(bool deleted, bool inUse);
  CMyLeftTreelistCtrl* LeftTree() const { return left_; }
  CMyRightTreelistCtrl* RightList() const { return right_; }
  CProgressDlg* ProgressDialog();
  bool WorkersIdle() const;
  void ReapWorkers();

  // The save and hex-view commands (context menus of both lists).
  void SingleSelectSave(bool fromLeft);
  void MultiSelectSave(bool fromLeft);
  void HexView();
  // The context menus of the two lists (the caller owns them).
  QMenu* BuildLeftMenu();
  QMenu* BuildRightMenu(Row row);
  // Bytes the rows ticked in a list stand for (for the space check).
  std::vector<SelectedEntry> CollectSelection(bool fromLeft);

  void SetStatus(const QString& text, bool warning);
  QString StatusText() const;
  QColor StatusColour() const { return statusColour_; }
  QString LastSaveSummary() const { return lastSaveSummary_; }

  // Replaceable for tests and scripted runs: how the save dialog and the hex
  // viewer are run (default: modally).
  std::function<bool(CMySaveFileDlg&)> runSaveDialog;
  std::function<void(CHEXVIEWDLG&)> runHexDialog;

 signals:
  void BackRequested();
  void RunFinished(bool completed);
  void SaveFinished(bool stopped);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool Launch(PartitionCommand command, const QString& diskName, const QString& partitionName, QString* refusal);
  void OnRunFinished(const PartitionRunResult& result);
  void ListChildren(int mark);
  void AddListRow(const FileRowKey& key, const QString& name, uint8_t state, const QStringList& columns, int mark);
  bool PassesFilter(const std::string& name, uint8_t state) const;
  bool ListsChild(const std::string& name, uint8_t state) const;
  QIcon IconForName(const QString& name, bool folder);
  void OnLeftCheckChanged(Row row);
  void OnRightCheckChanged(Row row);
  void SyncLeftMarks();
  std::vector<std::string> FolderChainOf(Row leftRow, bool inclusive) const;
  bool SelectedEntryForRow(bool fromLeft, Row row, SelectedEntry& selected);
  bool AskSaveOptions(SaveOptions& options);
  // Opens the source and starts the save of a checked selection.
  void RunSelection(const SaveSelection& selection);
  void StartSave(std::vector<SaveJob> jobs, bool multi, const std::string& targetFolder);
  void ShowLeftMenu(Row row, const QPoint& globalPoint);
  void ShowRightMenu(Row row, const QPoint& globalPoint);
  void Layout();

  DiskList& disks_;
  CMyLeftTreelistCtrl* left_ = nullptr;
  CMyRightTreelistCtrl* right_ = nullptr;
  CXPButton* back_ = nullptr;
  QLineEdit* filterEdit_ = nullptr;
  QCheckBox* deletedSwitch_ = nullptr;
  QCheckBox* inUseSwitch_ = nullptr;
  QLabel* filterLabel_ = nullptr;
  QLabel* status_ = nullptr;
  QColor statusColour_;
  CProgressDlg* progress_ = nullptr;

  QString diskName_, partitionName_;
  ExpansionMode mode_ = kNoReader;
  DiskRecord* disk_ = nullptr;
  PartitionRecord* partition_ = nullptr;
  Row currentFolderRow_ = nullptr;
  FileRowKey currentFolder_;
  QSet<QString> subfolderNames_;
  QString nameFilter_;
  bool listDeleted_ = true;
  bool listInUse_ = true;
  QString lastSaveSummary_;

  QHash<QString, QIcon> iconCache_;
  std::vector<std::unique_ptr<PartitionRun>> runs_;
  WorkerPool workers_;
};

}  // namespace quorvel
