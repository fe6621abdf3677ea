#include "ui/file_dlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QThread>
#include <algorithm>

#include "core/operation_busy.h"
#include "io/write_guard.h"
#include "platform/free_space.h"
#include "save/name_repair.h"
#include "save/save_engines.h"
#include "ui/artwork.h"
#include "ui/gui_call.h"
#include "ui/hex_view_dlg.h"
#include "ui/my_left_treelist_ctrl.h"
#include "ui/my_right_treelist_ctrl.h"
#include "ui/my_save_file_dlg.h"
#include "ui/progress_dlg.h"
#include "ui/save_selection.h"
#include "ui/xp_button.h"

namespace quorvel {

namespace {
// The page's own texts.
const char* const kBack = "上一步";
const char* const kFilterLabel = "文件名过滤:";
const char* const kFilterHint = "例如 *.jpg 或 report";
const char* const kListDeleted = "列出已删除文件";
const char* const kListInUse = "列出正常文件";
const char* const kSingleSave = "单选保存";
const char* const kMultiSave = "多选保存";
// An entry's MFT record was not where the fragment sweep recorded it.
const char* const kMftErrorText = "mft错误";
const char* const kMftErrorCaption = "警告";
const char* const kHexView = "Hex查看";
const char* const kFolderText = "正常文件夹";
const char* const kDeletedFolderText = "已删除文件夹";
const char* const kDeletedFileText = "已删除文件";
const char* const kExtraFoundFiles = "Extra Found Files";
const char* const kWrongPartition = "请正确选择分区";
const char* const kNoEngine = "警告: 该分区的文件无法保存";
const char* const kSpaceCaption = "警告";
const char* const kRunStopped = "警告: 操作已停止, 已找到的内容保留";
const char* const kRunError = "错误: ";
const char* const kExpandDone = "分区已展开";
const char* const kFormatScanFatDone = "格式化恢复完成: 按 %zu 个目录扇区重建目录";
const char* const kFormatScanFatNothing = "格式化恢复完成: 没有找到旧目录的扇区, 显示的是分区现在的目录";
const char* const kFormatScanNtfsDone = "格式化恢复完成";

QString Q(const std::string& text) { return QString::fromStdString(text); }
QString Q(const char* text) { return QString::fromUtf8(text); }

FileRowKey KeyOf(const CTreeListCtrl* tree, CTreeListCtrl::Row row) {
  QVariant v = tree->GetItemData(row);
  return v.canConvert<FileRowKey>() ? v.value<FileRowKey>() : FileRowKey();
}

uint8_t* FlagsOf(const FileRowKey& key) {
  if (key.kind == FileRowKey::kFat && key.fat) return &key.fat->flags;
  if (key.kind == FileRowKey::kNtfs && key.ntfs) return &key.ntfs->flags;
  return nullptr;
}

// Free space is asked of the folder, or of its nearest existing parent when
// the folder is still to be made.
uint64_t FreeBytesFor(const QString& folder) {
  QString path = QDir::cleanPath(QDir(folder).absolutePath());
  while (!path.isEmpty() && !QFileInfo::exists(path)) {
    QString parent = QFileInfo(path).path();
    if (parent == path) break;
    path = parent;
  }
  return FreeSpaceBytes(path.toStdString());
}
}  // namespace

CFileDlg::CFileDlg(DiskList& disks, QWidget* parent) : QWidget(parent), disks_(disks) {
  left_ = new CMyLeftTreelistCtrl(this);
  right_ = new CMyRightTreelistCtrl(this);
  back_ = new CXPButton(Q(kBack), this);
  filterLabel_ = new QLabel(Q(kFilterLabel), this);
  filterEdit_ = new QLineEdit(this);
  filterEdit_->setPlaceholderText(Q(kFilterHint));
  filterEdit_->setClearButtonEnabled(true);
  deletedSwitch_ = new QCheckBox(Q(kListDeleted), this);
  inUseSwitch_ = new QCheckBox(Q(kListInUse), this);
  deletedSwitch_->setChecked(listDeleted_);
  inUseSwitch_->setChecked(listInUse_);
  status_ = new QLabel(this);
  statusColour_ = ColorRef(Colours::kStatusGreen);

  connect(back_, &QPushButton::clicked, this, [this] {
    // Back to the disk page: the lists and the partition's tree go, as before a new run.
    ClearLists();
    EmptyCurrentPartition();
    emit BackRequested();
  });
  connect(filterEdit_, &QLineEdit::textChanged, this, [this](const QString& text) {
    nameFilter_ = text;
    RefreshList();
  });
  connect(deletedSwitch_, &QCheckBox::toggled, this, [this](bool on) {
    listDeleted_ = on;
    RefreshList();
  });
  connect(inUseSwitch_, &QCheckBox::toggled, this, [this](bool on) {
    listInUse_ = on;
    RefreshList();
  });
  connect(left_, &CTreeListCtrl::RowLeftButtonUp, this, [this](QTreeWidgetItem* row, QPoint) { ShowFolder(row); });
  connect(left_, &CTreeListCtrl::RowRightButtonUp, this, &CFileDlg::ShowLeftMenu);
  connect(right_, &CTreeListCtrl::RowRightButtonUp, this, &CFileDlg::ShowRightMenu);
  connect(left_, &CTreeListCtrl::RowCheckChanged, this, &CFileDlg::OnLeftCheckChanged);
  connect(right_, &CTreeListCtrl::RowCheckChanged, this, &CFileDlg::OnRightCheckChanged);
  connect(right_, &CTreeListCtrl::RowDoubleClicked, this, [this](QTreeWidgetItem* row, QPoint) {
    // A folder in the list opens like its row in the folder tree.
    QString type = right_->GetItemText(row, CMyRightTreelistCtrl::kStateColumn);
    if (type != Q(kFolderText) && type != Q(kDeletedFolderText)) return;
    if (!currentFolderRow_) return;
    QString name = right_->GetItemText(row, 0);
    for (Row child = left_->GetChildItem(currentFolderRow_); child; child = left_->GetNextSiblingItem(child)) {
      if (left_->GetItemText(child, 0) == name) {
        left_->Expand(currentFolderRow_);
        left_->SelectItem(child);
        ShowFolder(child);
        return;
      }
    }
  });
}

CFileDlg::~CFileDlg() {
  // A worker may be waiting for this thread; let it finish before the page goes.
  if (progress_) progress_->Progress().RequestStop();
  while (!WorkersIdle()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ReapWorkers();
    QThread::msleep(5);
  }
}

bool CFileDlg::WorkersIdle() const {
  return workers_.Idle() && std::all_of(runs_.begin(), runs_.end(), [](const auto& run) { return run->Finished(); });
}

void CFileDlg::ReapWorkers() {
  workers_.Reap();
  runs_.erase(std::remove_if(runs_.begin(), runs_.end(), [](const auto& run) { return run->Finished(); }), runs_.end());
}

CProgressDlg* CFileDlg::ProgressDialog() {
  if (!progress_) progress_ = new CProgressDlg(this);
  return progress_;
}

void CFileDlg::SetStatus(const QString& text, bool warning) {
  statusColour_ = ColorRef(warning ? Colours::kStatusRed : Colours::kStatusGreen);
  QPalette pal = status_->palette();
  pal.setColor(QPalette::WindowText, statusColour_);
  status_->setPalette(pal);
  status_->setText(text);
}

QString CFileDlg::StatusText() const { return status_->text(); }

void CFileDlg::SetNameFilter(const QString& filter) { filterEdit_->setText(filter); }

void CFileDlg::SetListSwitches(bool deleted, bool inUse) {
  deletedSwitch_->setChecked(deleted);
  inUseSwitch_->setChecked(inUse);
}

void CFileDlg::ClearLists() {
  left_->DeleteAllItems();
  right_->DeleteAllItems();
  currentFolderRow_ = nullptr;
  currentFolder_ = FileRowKey();
  subfolderNames_.clear();
}

void CFileDlg::EmptyCurrentPartition() {
  // The worker owns the tree while it runs.
  if (OperationBusy().load() || !partition_) return;
  EmptyPartitionTree(*partition_);
}

void CFileDlg::ForgetDisk(const DiskRecord* disk) {
  if (disk_ != disk) return;
  ClearLists();
  disk_ = nullptr;
  partition_ = nullptr;
}

// --- launch and fill ---------------------------------------------------------

bool CFileDlg::ExpandPartition(const QString& diskName, const QString& partitionName, QString* refusal,
                               bool useRecordedSectors) {
  return Launch(useRecordedSectors ? PartitionCommand::kExpandRecorded : PartitionCommand::kExpand, diskName,
                partitionName, refusal);
}

bool CFileDlg::ScanFormatInfo(const QString& diskName, const QString& partitionName, QString* refusal) {
  return Launch(PartitionCommand::kFormatInfo, diskName, partitionName, refusal);
}

bool CFileDlg::Launch(PartitionCommand command, const QString& diskName, const QString& partitionName,
                      QString* refusal) {
  ReapWorkers();
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  if (!FindLaunchTarget(disks_, diskName.toStdString(), partitionName.toStdString(), disk, partition)) {
    if (refusal) *refusal = Q(kWrongPartition);
    return false;
  }
  ClearLists();
  Row root = left_->InsertItem(partitionName);
  left_->SetItemImage(root, kPartitionRowImage);

  CProgressDlg* dialog = ProgressDialog();
  PartitionLaunchRequest request;
  request.command = command;
  request.disk = disk;
  request.partition = partition;
  request.progress = &dialog->Progress();
  // The worker hands its result over and waits while this page shows it.
  request.onFinished = [this](const PartitionRunResult& result) {
    SendToWindow(this, [this, &result] { OnRunFinished(result); });
  };
  dialog->StartOperation(Q(PartitionCommandTitle(command)), Q(PartitionCommandStartText(command)));
  std::string why;
  std::unique_ptr<PartitionRun> run = LaunchPartitionRun(request, why);
  if (!run) {
    dialog->hide();
    left_->DeleteAllItems();
    if (refusal) *refusal = Q(why);
    return false;
  }
  diskName_ = diskName;
  partitionName_ = partitionName;
  disk_ = disk;
  partition_ = partition;
  ExpansionMode mode = ExpansionModeForFsKind(partition->fsKind);
  if (mode != kNoReader) mode_ = mode;
  SetStatus(QString(), false);
  runs_.push_back(std::move(run));
  return true;
}

void CFileDlg::OnRunFinished(const PartitionRunResult& result) {
  if (result.mode != kNoReader) mode_ = result.mode;
  FillFolderTree(result.view);
  if (!result.error.empty()) {
    SetStatus(Q(kRunError) + Q(result.error), true);
  } else if (result.stopped) {
    SetStatus(Q(kRunStopped), true);
  } else if (result.command == PartitionCommand::kFormatInfo && mode_ == kExpandNtfs) {
    SetStatus(Q(kFormatScanNtfsDone), false);
  } else if (result.command == PartitionCommand::kFormatInfo) {
    SetStatus(result.directorySectors ? QString::asprintf(kFormatScanFatDone, result.directorySectors)
                                      : Q(kFormatScanFatNothing),
              false);
  } else {
    SetStatus(Q(kExpandDone), false);
  }
  emit RunFinished(result.completed);
}

void CFileDlg::FillFolderTree(const FolderTreeView& view) {
  Row root = left_->GetRootItem();
  if (!root) return;
  left_->SetItemImage(root, kPartitionRowImage);
  std::vector<Row> parents{root};
  for (const FolderRow& folder : view.rows) {
    size_t depth = std::clamp<size_t>(static_cast<size_t>(std::max(1, folder.depth)), 1, parents.size());
    parents.resize(depth);
    Row row = left_->InsertItem(Q(folder.name), parents.back());
    left_->SetItemImage(row, folder.image);
    left_->SetItemText(row, Q(folder.fileId), CMyLeftTreelistCtrl::kFileIdColumn);
    left_->SetItemText(row, Q(folder.createTime), CMyLeftTreelistCtrl::kCreateTimeColumn);
    row->setToolTip(CMyLeftTreelistCtrl::kCreateTimeColumn, Q(folder.createTime));  // the column may be narrower
    if (folder.red) left_->SetItemTextColor(row, ColorRef(Colours::kDeletedRow));
    FileRowKey key;
    if (auto fat = std::get_if<const FatFileEntry*>(&folder.entry)) {
      key.kind = FileRowKey::kFat;
      key.fat = const_cast<FatFileEntry*>(*fat);
    } else if (auto ntfs = std::get_if<const NtfsFileEntry*>(&folder.entry)) {
      key.kind = FileRowKey::kNtfs;
      key.ntfs = const_cast<NtfsFileEntry*>(*ntfs);
    } else {
      key.kind = FileRowKey::kCarvedFolder;
    }
    left_->SetItemData(row, QVariant::fromValue(key));
    parents.push_back(row);
  }
  left_->Expand(root);
  left_->SelectItem(root);
  ShowFolder(root);  // the list shows the partition's top level
}

// --- listing -----------------------------------------------------------------

QIcon CFileDlg::IconForName(const QString& name, bool folder) {
  static QFileIconProvider provider;
  if (folder) {
    static QIcon folderIcon = provider.icon(QAbstractFileIconProvider::Folder);
    return folderIcon;
  }
  QString suffix = QFileInfo(name).suffix().toLower();
  auto it = iconCache_.find(suffix);
  if (it != iconCache_.end()) return *it;
  // The provider answers by type for names that do not exist here.
  QIcon icon = provider.icon(QFileInfo(QDir::tempPath() + QStringLiteral("/quorvel-type.") + suffix));
  if (icon.isNull()) icon = provider.icon(QAbstractFileIconProvider::File);
  iconCache_.insert(suffix, icon);
  return icon;
}

bool CFileDlg::PassesFilter(const std::string& name, uint8_t state) const {
  if (nameFilter_ == QStringLiteral("0")) return true;  // "0": no filter at all
  if (state == kDeletedFile && !listDeleted_) return false;
  if (state == kFile && !listInUse_) return false;
  std::string pattern = nameFilter_.trimmed().toStdString();
  return pattern.empty() || MatchNameFilter(name, pattern);
}

// Folders the folder tree shows, and files the filter passes.
bool CFileDlg::ListsChild(const std::string& name, uint8_t state) const {
  if (IsFolderState(state)) return subfolderNames_.contains(Q(name));
  return PassesFilter(name, state);
}

void CFileDlg::AddListRow(const FileRowKey& key, const QString& name, uint8_t state, const QStringList& columns,
                          int mark) {
  Row row = right_->InsertItem(name);
  for (int c = 0; c < columns.size(); ++c) right_->SetItemText(row, columns[c], c + 1);
  for (int c : {CMyRightTreelistCtrl::kSizeColumn, CMyRightTreelistCtrl::kFileNumberColumn,
                CMyRightTreelistCtrl::kParentNumberColumn})
    row->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
  row->setIcon(0, IconForName(name, IsFolderState(state)));
  if (IsDeletedState(state)) right_->SetItemTextColor(row, ColorRef(Colours::kDeletedRow));
  right_->SetItemData(row, QVariant::fromValue(key));
  right_->SetCheck(row, mark);
}

void CFileDlg::ListChildren(int mark) {
  // mark 0 / 1: the folder's mark goes down to every listed child; 2: each
  // child shows its own stored mark.
  // While a save reads the tree the marks are shown but not stored.
  const bool store = !OperationBusy().load();
  auto markFor = [mark, store](uint8_t& flags) {
    if (mark == 2) return static_cast<int>(GetCheckState(flags));
    if (store) SetCheckState(flags, static_cast<uint8_t>(mark));
    return mark;
  };
  if (currentFolder_.kind == FileRowKey::kFat && currentFolder_.fat) {
    FatFileEntry& folder = *currentFolder_.fat;
    for (FatFileEntry& child : folder.children) {
      uint8_t state = child.state();
      if (!ListsChild(child.name, state)) continue;
      FileRowKey key;
      key.kind = FileRowKey::kFat;
      key.fat = &child;
      QString modified = Q(FormatDosTime(child.writeDate, child.writeTime));
      AddListRow(
          key, Q(child.name), state,
          {Q(EntryStateText(state)), QString::number(child.size),
           Q(FormatDosTime(child.creationDate, child.creationTime)), modified, modified,
           QString::number(child.firstCluster), child.parent ? QString::number(child.parent->firstCluster) : QString()},
          markFor(child.flags));
    }
  } else if (currentFolder_.kind == FileRowKey::kNtfs && currentFolder_.ntfs) {
    NtfsFileEntry& folder = *currentFolder_.ntfs;
    for (NtfsFileEntry& child : folder.children) {
      uint8_t state = child.state();
      if (!ListsChild(child.name, state)) continue;
      FileRowKey key;
      key.kind = FileRowKey::kNtfs;
      key.ntfs = &child;
      AddListRow(key, Q(child.name), state,
                 {Q(EntryStateText(state)), QString::number(child.size), Q(FormatFileTime(child.creationTime)),
                  Q(FormatFileTime(child.modificationTime)), Q(FormatFileTime(child.accessTime)),
                  QString::number(child.recordNumber), QString::number(child.parentNumber)},
                 markFor(child.flags));
    }
  } else if (currentFolder_.kind == FileRowKey::kCarvedFolder && disk_) {
    // Every carved file of the disk, also those outside this partition.
    QString folderName =
        Q(disk_->extraFoundFiles.name.empty() ? std::string(kExtraFoundFiles) : disk_->extraFoundFiles.name);
    for (auto& [sector, carved] : disk_->carvedFiles) {
      if (nameFilter_ != QStringLiteral("0") && !nameFilter_.trimmed().isEmpty() &&
          !MatchNameFilter(carved.name, nameFilter_.trimmed().toStdString()))
        continue;
      FileRowKey key;
      key.kind = FileRowKey::kCarvedFile;
      key.carvedSector = sector;
      int shown = mark == 2 ? (carved.state & 0x03) : mark;
      if (mark != 2 && store) carved.state = static_cast<uint8_t>((carved.state & ~0x03) | mark);
      AddListRow(key, Q(carved.name), kDeletedFile,
                 {Q(kDeletedFileText), QString::number(carved.size), QString(), QString(), QString(),
                  QString::number(sector), folderName},
                 shown);
    }
  }
}

void CFileDlg::ShowFolder(Row g) {
  if (!g || g->treeWidget() != left_) return;
  int mark = left_->GetCheck(g);
  subfolderNames_.clear();
  currentFolderRow_ = g;
  right_->DeleteAllItems();
  if (!left_->GetParentItem(g)) {
    // The partition row: its child rows, as folders.
    currentFolder_ = FileRowKey();
    for (Row child = left_->GetChildItem(g); child; child = left_->GetNextSiblingItem(child)) {
      QString time = left_->GetItemText(child, CMyLeftTreelistCtrl::kCreateTimeColumn);
      FileRowKey key = KeyOf(left_, child);
      AddListRow(key, left_->GetItemText(child, 0), kFolder,
                 {Q(kFolderText), QStringLiteral("0"), time, time, time,
                  left_->GetItemText(child, CMyLeftTreelistCtrl::kFileIdColumn), QString()},
                 left_->GetCheck(child));
    }
    return;
  }
  for (Row child = left_->GetChildItem(g); child; child = left_->GetNextSiblingItem(child))
    subfolderNames_.insert(left_->GetItemText(child, 0));
  currentFolder_ = KeyOf(left_, g);
  if (OperationBusy().load()) {
    // Shown, not stored, while a worker reads the tree.
  } else if (currentFolder_.kind == FileRowKey::kCarvedFolder) {
    if (disk_) disk_->extraFoundFiles.state = static_cast<uint8_t>((disk_->extraFoundFiles.state & ~0x03) | mark);
  } else if (uint8_t* flags = FlagsOf(currentFolder_)) {
    SetCheckState(*flags, static_cast<uint8_t>(mark));
  }
  if (!FlagsOf(currentFolder_) && currentFolder_.kind != FileRowKey::kCarvedFolder) return;  // no entry: empty list
  ListChildren(mark);
}

void CFileDlg::RefreshList() {
  if (!currentFolderRow_) return;
  if (!left_->GetParentItem(currentFolderRow_)) {
    ShowFolder(currentFolderRow_);
    return;
  }
  right_->DeleteAllItems();
  ListChildren(2);
}

void CFileDlg::OnLeftCheckChanged(Row row) {
  if (OperationBusy().load()) return;  // a worker is reading the tree
  FileRowKey key = KeyOf(left_, row);
  int mark = left_->GetCheck(row);
  if (uint8_t* flags = FlagsOf(key))
    SetCheckState(*flags, static_cast<uint8_t>(mark));
  else if (key.kind == FileRowKey::kCarvedFolder && disk_)
    disk_->extraFoundFiles.state = static_cast<uint8_t>((disk_->extraFoundFiles.state & ~0x03) | mark);
}

void CFileDlg::OnRightCheckChanged(Row row) {
  if (OperationBusy().load()) return;  // a worker is reading the tree
  FileRowKey key = KeyOf(right_, row);
  int mark = right_->GetCheck(row);
  if (uint8_t* flags = FlagsOf(key)) {
    SetCheckState(*flags, static_cast<uint8_t>(mark));
  } else if (key.kind == FileRowKey::kCarvedFile && disk_) {
    auto it = disk_->carvedFiles.find(key.carvedSector);
    if (it != disk_->carvedFiles.end()) it->second.state = static_cast<uint8_t>((it->second.state & ~0x03) | mark);
  }
}

void CFileDlg::SyncLeftMarks() {
  for (Row row = left_->GetRootItem(); row; row = left_->GetNextItem(row)) OnLeftCheckChanged(row);
}

// --- save and hex view -------------------------------------------------------

std::vector<std::string> CFileDlg::FolderChainOf(Row row, bool inclusive) const {
  std::vector<std::string> chain;
  for (Row r = inclusive ? row : left_->GetParentItem(row); r && left_->GetParentItem(r); r = left_->GetParentItem(r))
    chain.push_back(left_->GetItemText(r, 0).toStdString());
  std::reverse(chain.begin(), chain.end());
  return chain;
}

bool CFileDlg::SelectedEntryForRow(bool fromLeft, Row row, SelectedEntry& selected) {
  selected = SelectedEntry();
  if (!row) return false;
  CTreeListCtrl* tree = fromLeft ? static_cast<CTreeListCtrl*>(left_) : right_;
  FileRowKey key = KeyOf(tree, row);
  if (key.kind == FileRowKey::kCarvedFolder) {
    selected.carvedFolder = true;
    return true;
  }
  if (key.kind == FileRowKey::kCarvedFile) {
    selected.carvedFile = true;
    selected.carvedSector = key.carvedSector;
    return disk_ && disk_->carvedFiles.count(key.carvedSector) > 0;
  }
  if (key.kind != FileRowKey::kFat && key.kind != FileRowKey::kNtfs) return false;
  selected.fat = key.fat;
  selected.ntfs = key.ntfs;
  int idColumn = fromLeft ? int(CMyLeftTreelistCtrl::kFileIdColumn) : int(CMyRightTreelistCtrl::kFileNumberColumn);
  selected.fileId = tree->GetItemText(row, idColumn).toULongLong();
  if (fromLeft) {
    selected.folderChain = FolderChainOf(row, false);
  } else if (currentFolderRow_ && left_->GetParentItem(currentFolderRow_)) {
    selected.folderChain = FolderChainOf(currentFolderRow_, true);
  }
  return true;
}

std::vector<SelectedEntry> CFileDlg::CollectSelection(bool fromLeft) {
  std::vector<SelectedEntry> selection;
  if (!partition_) return selection;
  if (fromLeft) {
    SyncLeftMarks();
    return CollectCheckedEntries(*partition_, disk_);
  }
  for (Row row = right_->GetRootItem(); row; row = right_->GetNextSiblingItem(row)) {
    if (right_->GetCheck(row) == 0) continue;
    SelectedEntry selected;
    if (SelectedEntryForRow(false, row, selected)) selection.push_back(selected);
  }
  return selection;
}

bool CFileDlg::AskSaveOptions(SaveOptions& options) {
  CMySaveFileDlg dialog(this);
  dialog.SetExpansionMode(mode_);
  dialog.SetRecoverDeleted(listDeleted_);
  dialog.SetRecoverNormal(listInUse_);
  DiskRecord* disk = disk_;
  PartitionRecord* partition = partition_;
  // Without a partition the disk's carved files are saved: the whole disk is the source.
  dialog.isOnSourceDrive = [disk, partition](const std::string& folder) {
    return !disk || TargetReachesSource(folder, *disk, partition);
  };
  bool ok = runSaveDialog ? runSaveDialog(dialog) : dialog.exec() == QDialog::Accepted;
  if (!ok) return false;
  options.targetFolder = dialog.TargetFolder().toStdString();
  options.useFatReference = dialog.UseFatReference();
  options.recoverDeleted = dialog.RecoverDeleted();
  options.recoverNormal = dialog.RecoverNormal();
  QString filter = nameFilter_.trimmed();
  options.nameFilter = filter == QStringLiteral("0") ? std::string() : filter.toStdString();
  return true;
}

void CFileDlg::SingleSelectSave(bool fromLeft) {
  if (OperationBusy().load()) return SetStatus(Q(kSaveBusyText), true);
  CTreeListCtrl* tree = fromLeft ? static_cast<CTreeListCtrl*>(left_) : right_;
  Row row = tree->GetSelectedItem();
  SaveSelection selection;
  selection.multiSelect = false;
  SelectedEntry selected;
  if (!row || !partition_ || !disk_ || !SelectedEntryForRow(fromLeft, row, selected))
    return SetStatus(Q(kSaveNoSelectionText), true);
  selection.entries.push_back(selected);
  if (!AskSaveOptions(selection.options)) return;
  const SaveCheck check =
      CheckSaveSelection(selection, *disk_, *partition_, FreeBytesFor(Q(selection.options.targetFolder)));
  if (check.refusal == SaveRefusal::kNoTarget) return SetStatus(Q(kSaveNoTargetText), true);
  if (check.refusal == SaveRefusal::kSpaceShort) {
    QMessageBox::warning(this, Q(kSpaceCaption), Q(SingleSaveSpaceText(check.bytesToSave)));
    return;
  }
  RunSelection(selection);
}

void CFileDlg::MultiSelectSave(bool fromLeft) {
  if (OperationBusy().load()) return SetStatus(Q(kSaveBusyText), true);
  CTreeListCtrl* tree = fromLeft ? static_cast<CTreeListCtrl*>(left_) : right_;
  if (!tree->GetRootItem() || !partition_ || !disk_) return SetStatus(Q(kSaveNoSelectionText), true);
  SaveSelection selection;
  selection.multiSelect = true;
  // Nothing ticked is said before the folder is asked for, not after.
  selection.entries = CollectSelection(fromLeft);
  if (selection.entries.empty()) return SetStatus(Q(kSaveNoSelectionText), true);
  if (!AskSaveOptions(selection.options)) return;
  if (selection.options.targetFolder.empty()) return SetStatus(Q(kSaveNoTargetText), true);
  const SaveCheck check =
      CheckSaveSelection(selection, *disk_, *partition_, FreeBytesFor(Q(selection.options.targetFolder)));
  if (check.refusal == SaveRefusal::kSpaceShort) return SetStatus(Q(kSaveSpaceShortText), true);
  RunSelection(selection);
}

void CFileDlg::RunSelection(const SaveSelection& selection) {
  SharedSource source = OpenSaveSource(*disk_, *partition_);
  if (!source) return;  // an unreadable source ends the command quietly
  std::vector<SaveJob> jobs = PrepareSaveJobs(*disk_, *partition_, selection, source, &ProgressDialog()->Progress());
  if (jobs.empty()) return SetStatus(Q(kNoEngine), true);
  StartSave(std::move(jobs), selection.multiSelect, selection.options.targetFolder);
}

void CFileDlg::StartSave(std::vector<SaveJob> jobs, bool multi, const std::string& targetFolder) {
  if (!TryClaimOperation()) return SetStatus(Q(kSaveBusyText), true);
  CProgressDlg* dialog = ProgressDialog();
  dialog->StartOperation(Q(kSaveProgressTitle), Q(kSaveProgressText));
  struct SaveWork {
    std::vector<SaveJob> jobs;
    SaveRun run;
  };
  auto work = std::make_shared<SaveWork>();
  work->jobs = std::move(jobs);
  SetStatus(Q(kSaveProgressText), false);
  workers_.Start([this, work, multi, targetFolder] {
    if (multi)
      MultiSelectSaveThreadMain(work->jobs, work->run);
    else
      SaveThreadMain(work->jobs.front(), work->run);
    SaveSummary summary = work->run.summary;
    PostToWindow(this, [this, summary, targetFolder] {
      bool warning = false;
      const std::string text = SaveDoneText(summary, targetFolder, warning);
      SetStatus(Q(text), warning);
      lastSaveSummary_ = StatusText();
      if (summary.mftErrors) QMessageBox::warning(this, Q(kMftErrorCaption), Q(kMftErrorText));
      emit SaveFinished(summary.stopped);
    });
  });
}

void CFileDlg::HexView() {
  if (OperationBusy().load()) return SetStatus(Q(kSaveBusyText), true);
  Row row = right_->GetSelectedItem();
  if (!row) return;
  QString type = right_->GetItemText(row, CMyRightTreelistCtrl::kStateColumn);
  if (type == Q(kFolderText) || type == Q(kDeletedFolderText)) return;
  FileRowKey key = KeyOf(right_, row);
  CHEXVIEWDLG dialog(disks_, this);
  dialog.SetFile(diskName_, partitionName_, key);
  if (!dialog.Load()) return;  // a source that cannot be opened ends the viewer's start-up
  if (dialog.MftError()) QMessageBox::warning(this, Q(kMftErrorCaption), Q(kMftErrorText));
  if (runHexDialog)
    runHexDialog(dialog);
  else
    dialog.exec();
}

QMenu* CFileDlg::BuildLeftMenu() {
  auto* menu = new QMenu(this);
  menu->addAction(Q(kSingleSave), this, [this] { SingleSelectSave(true); });
  menu->addAction(Q(kMultiSave), this, [this] { MultiSelectSave(true); });
  return menu;
}

QMenu* CFileDlg::BuildRightMenu(Row row) {
  auto* menu = new QMenu(this);
  menu->addAction(Q(kSingleSave), this, [this] { SingleSelectSave(false); });
  menu->addAction(Q(kMultiSave), this, [this] { MultiSelectSave(false); });
  QAction* hex = menu->addAction(Q(kHexView), this, [this] { HexView(); });
  QString type = right_->GetItemText(row, CMyRightTreelistCtrl::kStateColumn);
  hex->setEnabled(type != Q(kFolderText) && type != Q(kDeletedFolderText));
  return menu;
}

void CFileDlg::ShowLeftMenu(Row row, const QPoint& globalPoint) {
  left_->SelectItem(row);
  std::unique_ptr<QMenu> menu(BuildLeftMenu());
  menu->exec(globalPoint);
}

void CFileDlg::ShowRightMenu(Row row, const QPoint& globalPoint) {
  right_->SelectItem(row);
  std::unique_ptr<QMenu> menu(BuildRightMenu(row));
  menu->exec(globalPoint);
}

// --- layout ------------------------------------------------------------------

void CFileDlg::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Layout();
}

void CFileDlg::Layout() {
  const int w = width(), h = height();
  const int bar = 40, statusHeight = 26, margin = 6;
  int x = margin;
  back_->setGeometry(x, 6, back_->sizeHint().width(), 28);
  x += back_->width() + 18;
  filterLabel_->setGeometry(x, 6, filterLabel_->sizeHint().width(), 28);
  x += filterLabel_->width() + 6;
  filterEdit_->setGeometry(x, 8, 200, 24);
  x += 200 + 18;
  deletedSwitch_->setGeometry(x, 6, deletedSwitch_->sizeHint().width(), 28);
  x += deletedSwitch_->width() + 12;
  inUseSwitch_->setGeometry(x, 6, inUseSwitch_->sizeHint().width(), 28);
  int top = bar + 2, listHeight = std::max(0, h - top - statusHeight);
  // The left third, but on a small window wide enough for folder names beside
  // "File Id" and "Create Time" (the file list scrolls sideways anyway).
  int leftWidth = std::max(w / 3, std::min(w / 2, 440));
  left_->setGeometry(0, top, leftWidth, listHeight);
  left_->FitColumns(leftWidth);
  right_->setGeometry(leftWidth + 2, top, w - leftWidth - 2, listHeight);
  status_->setGeometry(margin, h - statusHeight, w - 2 * margin, statusHeight);
}

void CFileDlg::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), ColorRef(Colours::kPageArea));
}

}  // namespace quorvel
