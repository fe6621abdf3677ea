#include "ui/hd_dlg.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QThread>
#include <memory>

#include "core/operation_busy.h"
#include "model/partition_texts.h"
#include "recover/partition_launch.h"
#include "ui/artwork.h"
#include "ui/disk_list_problems.h"
#include "ui/file_dlg.h"
#include "ui/gui_call.h"
#include "ui/hd_tree_list_ctrl.h"
#include "ui/progress_dlg.h"
#include "ui/xp_button.h"
#include "volumes/disk_enumeration.h"

namespace quorvel {

namespace {
// The page's own texts.
const char* const kStatusIdle = "状态提示...";
const char* const kBusy = "警告: 请等待当前操作完成";
const char* const kNoSelection = "警告: 没有选择的项目";
const char* const kChoosePartition = "警告: 请正确选择分区";
const char* const kChooseDisk = "警告: 请正确选择磁盘";
const char* const kChooseDiskScan = "警告: 请正确选择磁盘!";
const char* const kImaging = "镜像操作";
const char* const kStop = "停止";
const char* const kScan = "扫描";
const char* const kSave = "保存";
const char* const kOpenImage = "打开镜像文件";
const char* const kImageFilter = "Img files(*.img);;All files(*)";
const char* const kImageFailed = "错误: 无法打开镜像文件 ";
const char* const kImageAlreadyOpen = "镜像文件已打开: ";  // also after opening it
// Functions whose scans are still to come.
// The deep scan's outcome.
const char* const kDeepScanDone = "深度扫描完成: 新增 %1 个分区, 找到 %2 个文件";
const char* const kDeepScanStopped = "警告: 深度扫描已停止, 已找到的内容保留 (新增 %1 个分区, %2 个文件)";
const char* const kDeepScanError = "错误: ";
const char* const kImagingLater = "警告: 镜像功能尚未完成";
// Context menu items.
const char* const kMenuLost = "扫描丢失分区";
const char* const kMenuDeep = "深度扫描";
const char* const kMenuImaging = "镜像功能";
const char* const kMenuOpenScan = "打开扫描结果";
const char* const kMenuSaveScan = "保存扫描结果";
const char* const kMenuOpenImage = "打开镜像文件";

QString Q(const char* text) { return QString::fromUtf8(text); }
QString Q(const std::string& text) { return QString::fromStdString(text); }

// FAT labels are padded with spaces on disk.
QString LabelText(const std::string& label) {
  QString text = Q(label);
  while (text.endsWith(QLatin1Char(' '))) text.chop(1);
  return text;
}

QColor OriginColour(int originCode) {
  if (originCode == 1) return ColorRef(Colours::kStatusRed);
  if (originCode == 2) return ColorRef(Colours::kFoundByScan);
  return Qt::black;
}

}  // namespace

CHdDlg::CHdDlg(DiskList& disks, CFileDlg* filePage, QWidget* parent)
    : QWidget(parent), disks_(disks), filePage_(filePage) {
  tree_ = new CHDTreeListCtrl(this);
  mainButton_ = new CXPButton(QStringLiteral("展开"), this);
  stopButton_ = new CXPButton(Q(kStop), this);
  scanButton_ = new CXPButton(Q(kScan), this);
  saveButton_ = new CXPButton(Q(kSave), this);
  imageButton_ = new CXPButton(Q(kOpenImage), this);
  status_ = new QLabel(Q(kStatusIdle), this);
  status_->setAttribute(Qt::WA_TranslucentBackground);
  SetStatus(Q(kStatusIdle), false);

  connect(mainButton_, &QPushButton::clicked, this, &CHdDlg::OnMainAction);
  connect(stopButton_, &QPushButton::clicked, this, &CHdDlg::OnStop);
  connect(scanButton_, &QPushButton::clicked, this, &CHdDlg::OnScan);
  connect(saveButton_, &QPushButton::clicked, this, &CHdDlg::OnSaveScanResult);
  connect(imageButton_, &QPushButton::clicked, this, [this] { OpenImageFile(); });
  connect(tree_, &CTreeListCtrl::RowDoubleClicked, this, [this](QTreeWidgetItem*, QPoint) { OnMainAction(); });
  connect(tree_, &CTreeListCtrl::RowRightButtonUp, this, &CHdDlg::ShowContextMenu);
  SetFunction(0, QStringLiteral("展开"));
  FillTree();
  openImaging = [this](const QString& source) { OpenImagingDialog(source); };
}

CHdDlg::~CHdDlg() {
  // A worker may be waiting for this thread in a sent message; let it end
  // before the page and its progress dialog go.
  if (progress_) progress_->Progress().RequestStop();
  if (deepScan_ && !deepScan_->Finished() && filePage_) filePage_->ProgressDialog()->Progress().RequestStop();
  while (!workers_.Idle() || (deepScan_ && !deepScan_->Finished())) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
}

CProgressDlg* CHdDlg::ProgressDialog() {
  if (!progress_) progress_ = new CProgressDlg(this);
  return progress_;
}

void CHdDlg::SetStatus(const QString& text, bool warning) {
  statusColour_ = ColorRef(warning ? Colours::kStatusRed : Colours::kStatusGreen);
  QPalette pal = status_->palette();
  pal.setColor(QPalette::WindowText, statusColour_);
  status_->setPalette(pal);
  status_->setText(text);
  status_->setToolTip(text);  // a long line is cut at the page's edge
}

QString CHdDlg::StatusText() const { return status_->text(); }

void CHdDlg::SetListProblems(const QStringList& problems) {
  listProblems_ = problems;
  ShowIdleStatus();
}

void CHdDlg::ShowIdleStatus() {
  const QString problems = ListProblemsText(listProblems_, disks_.empty());
  if (problems.isEmpty()) return SetStatus(Q(kStatusIdle), false);
  SetStatus(problems, true);
}

void CHdDlg::SetFunction(int function, const QString& mainButtonText) {
  function_ = function;
  mainButton_->setText(mainButtonText);
  bool all = function == 2 || function == 3;
  stopButton_->setVisible(all || function == 5);
  scanButton_->setVisible(all);
  saveButton_->setVisible(all);
  LayoutButtons();
}

void CHdDlg::FillTree() {
  tree_->DeleteAllItems();
  for (const DiskRecord& disk : disks_) {
    Row diskRow = tree_->InsertItem(Q(disk.Identity()));
    tree_->SetItemImage(diskRow, kImageDisk);
    tree_->SetItemText(diskRow, QStringLiteral("0"), CHDTreeListCtrl::kStartColumn);
    tree_->SetItemText(diskRow, Q(SizeText(disk.sizeBytes)), CHDTreeListCtrl::kSizeColumn);
    std::vector<std::string> texts = PartitionRowTexts(disk);
    size_t i = 0;
    for (const PartitionRecord& partition : disk.partitions)
      SetPartitionRow(tree_->InsertItem(Q(texts[i++]), diskRow), partition, true);
    tree_->Expand(diskRow);
  }
}

void CHdDlg::SetPartitionRow(Row row, const PartitionRecord& partition, bool typeOfEveryKind) {
  tree_->SetItemImage(row, kImageDisk);
  tree_->SetItemText(row, LabelText(partition.volumeLabel), CHDTreeListCtrl::kLabelColumn);
  const uint8_t kind = partition.fsKind;
  if (typeOfEveryKind || IsFat16Kind(kind) || IsNtfsKind(kind) || IsFat32Kind(kind))
    tree_->SetItemText(row, Q(PartitionTypeText(partition)), CHDTreeListCtrl::kTypeColumn);
  tree_->SetItemText(row, Q(SizeText(partition.startSector * 512)), CHDTreeListCtrl::kStartColumn);
  tree_->SetItemText(row, Q(SizeText(partition.sectorCount * 512)), CHDTreeListCtrl::kSizeColumn);
  tree_->SetItemTextColor(row, OriginColour(partition.originCode));
}

bool CHdDlg::StoreSelection(Row& diskRow, Row& partitionRow) {
  Row row = tree_->GetSelectedItem();
  diskRow = partitionRow = nullptr;
  if (!row) return false;
  if (Row parent = tree_->GetParentItem(row)) {
    diskRow = parent;
    partitionRow = row;
  } else {
    diskRow = row;
  }
  emit SelectionStored(tree_->GetItemText(diskRow, 0), partitionRow ? tree_->GetItemText(partitionRow, 0) : QString());
  return true;
}

void CHdDlg::OnMainAction() {
  if (OperationBusy().load()) return SetStatus(Q(kBusy), true);
  Row diskRow, partitionRow;
  if (!StoreSelection(diskRow, partitionRow)) return SetStatus(Q(kNoSelection), true);
  const QString disk = tree_->GetItemText(diskRow, 0);
  const QString partition = partitionRow ? tree_->GetItemText(partitionRow, 0) : QString();
  switch (function_) {
    case 0:
    case 1:
    case 2:
    case 3: {
      if (!partitionRow) return SetStatus(Q(kChoosePartition), true);
      emit DiscardRequested();
      QString refusal;
      // A partition opened on "深度扫描" shows what the deep scan (or a loaded
      // scan file) recorded inside it; "文件删除恢复" and "扫描丢失分区" show
      // the volume as it stands.
      bool started = function_ == 1 ? filePage_->ScanFormatInfo(disk, partition, &refusal)
                                    : filePage_->ExpandPartition(disk, partition, &refusal, function_ == 3);
      if (!started) {
        SetStatus(refusal.startsWith(QStringLiteral("警告")) ? refusal : QStringLiteral("警告: ") + refusal, true);
        return;
      }
      SetStatus(Q(kStatusIdle), false);
      emit FilePageOpened(disk, partition);
      return;
    }
    case 4: {
      QString source = partitionRow ? disk + QLatin1Char(',') + partition : disk;
      if (!openImaging) return SetStatus(Q(kImagingLater), true);
      SetStatus(Q(kImaging), false);
      openImaging(source);
      return;
    }
    default:
      OnOpenScanResult();
  }
}

void CHdDlg::OnScan() {
  if (OperationBusy().load()) return SetStatus(Q(kBusy), true);
  Row diskRow, partitionRow;
  if (!StoreSelection(diskRow, partitionRow)) return;
  if (function_ == 2) {
    if (partitionRow) return SetStatus(Q(kChooseDiskScan), true);
    StartLostPartitionScan(tree_->GetItemText(diskRow, 0));
  } else if (function_ == 3) {
    StartDeepScan(diskRow, partitionRow);
  }
}

void CHdDlg::StartDeepScan(Row diskRow, Row partitionRow) {
  const QString diskName = tree_->GetItemText(diskRow, 0);
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  if (partitionRow) {
    if (!FindLaunchTarget(disks_, diskName.toStdString(), tree_->GetItemText(partitionRow, 0).toStdString(), disk,
                          partition))
      return SetStatus(Q(kChoosePartition), true);
  } else {
    for (DiskRecord& d : disks_)
      if (Q(d.Identity()) == diskName) disk = &d;
    if (!disk) return SetStatus(Q(kChooseDisk), true);
  }
  // A worker that has cleared the busy flag may still be handing its end to
  // this thread: it is never waited for here.
  if (deepScan_ && !deepScan_->Finished()) return SetStatus(Q(kBusy), true);
  deepScan_.reset();
  CProgressDlg* dialog = filePage_->ProgressDialog();
  DeepScanRequest request;
  request.disk = disk;
  request.partition = partition;
  request.progress = &dialog->Progress();
  // The worker waits while this page adds the rows of what it found.
  request.onFinished = [this, disk](const DeepScanOutcome& outcome) {
    SendToWindow(this, [this, disk, &outcome] { OnDeepScanFinished(*disk, outcome); });
  };
  dialog->StartOperation(Q(kDeepScanTitle), Q(kDeepScanStartText));
  std::string refusal;
  deepScan_ = LaunchDeepScan(request, refusal);
  if (!deepScan_) {
    dialog->hide();
    return SetStatus(QStringLiteral("警告: ") + Q(refusal), true);
  }
  if (!partitionRow) lastScannedDisk_ = diskName;
  SetStatus(Q(kDeepScanStartText), false);
}

void CHdDlg::OnDeepScanFinished(DiskRecord& disk, const DeepScanOutcome& outcome) {
  UpdateDiskRow(disk);
  const QString added = QString::number(outcome.partitionsAdded.size());
  const QString carved = QString::number(outcome.carvedFilesAdded);
  if (!outcome.ran)
    SetStatus(Q(kDeepScanError) + Q(outcome.error), true);
  else if (outcome.stopped)
    SetStatus(Q(kDeepScanStopped).arg(added, carved), true);
  else
    SetStatus(Q(kDeepScanDone).arg(added, carved), false);
  emit DeepScanFinished(outcome);
}

void CHdDlg::OnStop() {
  // The running operation's stop flag; it stops at its next check point.
  if (progress_) progress_->Progress().RequestStop();
  if (filePage_) filePage_->ProgressDialog()->Progress().RequestStop();
}

void CHdDlg::OpenImageFile(const QString& chosen) {
  if (OperationBusy().load()) return SetStatus(Q(kBusy), true);
  QString path = chosen;
  if (path.isEmpty()) path = QFileDialog::getOpenFileName(this, Q(kOpenImage), QString(), Q(kImageFilter));
  if (path.isEmpty()) return;
  QString absolute = QFileInfo(path).absoluteFilePath();
  for (const DiskRecord& disk : disks_) {
    if (Q(disk.devicePath) == absolute || Q(disk.devicePath) == path)
      return SetStatus(Q(kImageAlreadyOpen) + path, false);
  }
  std::string why;
  if (!quorvel::OpenImageFile(disks_, absolute.toStdString(), &why)) {
    const QString reason = OpenFailureReason(why);
    return SetStatus(Q(kImageFailed) + path + (reason.isEmpty() ? QString() : " (" + reason + ")"), true);
  }
  FillTree();
  SetStatus(Q(kImageAlreadyOpen) + path, false);
}

QMenu* CHdDlg::BuildContextMenu(Row row) {
  if (!row || function_ < 2) return nullptr;
  bool diskRow = tree_->GetParentItem(row) == nullptr;
  if ((function_ == 2 || function_ == 5) && !diskRow) return nullptr;
  auto* menu = new QMenu(this);
  QAction* lost = menu->addAction(Q(kMenuLost), this, &CHdDlg::OnScan);
  QAction* deep = menu->addAction(Q(kMenuDeep), this, &CHdDlg::OnScan);
  QAction* imaging = menu->addAction(Q(kMenuImaging), this, &CHdDlg::OnMainAction);
  menu->addSeparator();
  QAction* openScan = menu->addAction(Q(kMenuOpenScan), this, &CHdDlg::OnOpenScanResult);
  QAction* saveScan = menu->addAction(Q(kMenuSaveScan), this, &CHdDlg::OnSaveScanResult);
  menu->addSeparator();
  QAction* openImage = menu->addAction(Q(kMenuOpenImage), this, [this] { OpenImageFile(); });
  switch (function_) {
    case 2:
      deep->setEnabled(false);
      imaging->setEnabled(false);
      break;
    case 3:
      imaging->setEnabled(false);
      lost->setEnabled(false);
      if (!diskRow) openImage->setEnabled(false);
      break;
    case 4:
      deep->setEnabled(false);
      lost->setEnabled(false);
      openScan->setEnabled(false);
      saveScan->setEnabled(false);
      if (!diskRow) openImage->setEnabled(false);
      break;
    default:
      deep->setEnabled(false);
      lost->setEnabled(false);
      imaging->setEnabled(false);
      saveScan->setEnabled(false);
      openImage->setEnabled(false);
  }
  return menu;
}

void CHdDlg::ShowContextMenu(Row row, const QPoint& globalPoint) {
  std::unique_ptr<QMenu> menu(BuildContextMenu(row));
  if (menu) menu->exec(globalPoint);
}

void CHdDlg::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutButtons();
}

void CHdDlg::LayoutButtons() {
  const int w = width(), h = height();
  const int treeHeight = h * 4 / 5;
  tree_->setGeometry(0, 0, w, treeHeight);
  const int statusTop = treeHeight + 4, statusHeight = 24;
  status_->setGeometry(8, statusTop, w - 16, statusHeight);
  const int buttonTop = statusTop + statusHeight + 4;
  const int buttonHeight = 30, gap = 12;
  std::vector<CXPButton*> shown;
  for (CXPButton* b : {stopButton_, saveButton_, scanButton_, mainButton_})
    if (!b->isHidden()) shown.push_back(b);
  int total = 0;
  for (CXPButton* b : shown) total += std::max(96, b->sizeHint().width());
  total += gap * static_cast<int>(shown.size() > 0 ? shown.size() - 1 : 0);
  int x = (w - total) / 2;
  for (CXPButton* b : shown) {
    int bw = std::max(96, b->sizeHint().width());
    b->setGeometry(x, buttonTop, bw, buttonHeight);
    x += bw + gap;
  }
  imageButton_->setGeometry(8, buttonTop, imageButton_->sizeHint().width(), buttonHeight);
}

void CHdDlg::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), ColorRef(Colours::kPageArea));
}

}  // namespace quorvel
