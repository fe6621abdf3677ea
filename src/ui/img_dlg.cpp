#include "ui/img_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTableView>
#include <QThread>
#include <QTreeWidget>

#include "core/operation_busy.h"
#include "imaging/imaging_texts.h"
#include "ui/artwork.h"
#include "ui/bad_sector_list.h"
#include "ui/gui_call.h"
#include "ui/img_dlg_reports.h"
#include "ui/text_progress_ctrl.h"
#include "ui/xp_button.h"

namespace quorvel {

namespace {
const char* const kTitle = "镜像";
const char* const kErrorTitle = "error";
const char* const kToDisk = "到磁盘";
const char* const kToFile = "到文件";
const char* const kSourceLabel = "源文件：";
const char* const kStartLabel = "起始扇区：";
const char* const kCountLabel = "扇区数目：";
const char* const kTargetLabel = "目标磁盘：";
const char* const kFileLabel = "文件路径：";
const char* const kBrowse = "...";
const char* const kStart = "开始";
const char* const kStop = "停止";
const char* const kImageFilter = "Img files(*.img);;All files(*)";
constexpr uint32_t kPickerColour = 9856100;

// The dialog is first as wide as its separator; the first bad sector widens
// it to show the list.
constexpr int kCompactWidth = 446;
constexpr int kFullWidth = 690;
constexpr int kHeight = 344;
constexpr int kEditX = 96;
constexpr int kEditHeight = 24;

QString Q(const char* text) { return QString::fromUtf8(text); }

QLabel* Static(const char* text, QWidget* parent, int x, int y, int w = 80) {
  auto* label = new QLabel(Q(text), parent);
  label->setGeometry(x, y, w, kEditHeight);
  return label;
}

QLineEdit* Edit(QWidget* parent, int x, int y, int w, bool numbers, bool readOnly) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(x, y, w, kEditHeight);
  edit->setReadOnly(readOnly);
  if (numbers)
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,19}")), edit));
  return edit;
}

// Sector numbers as the dialog reads them: digits, empty as 0.
uint64_t Number(const QLineEdit* edit) { return edit->text().trimmed().toULongLong(); }
}  // namespace

CImgDlg::CImgDlg(DiskList& disks, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      disks_(disks),
      progress_(std::make_unique<ScanProgress>()) {
  setWindowTitle(Q(kTitle));
  setModal(false);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, Qt::white);
  setPalette(pal);

  toDisk_ = new QRadioButton(Q(kToDisk), this);
  toDisk_->setGeometry(16, 12, 100, kEditHeight);
  toFile_ = new QRadioButton(Q(kToFile), this);
  toFile_->setGeometry(130, 12, 100, kEditHeight);
  // White captions on the dark brush; the indicator keeps its dark dot on white.
  for (QRadioButton* radio : {toDisk_, toFile_}) {
    QPalette radioPalette = radio->palette();
    radioPalette.setColor(QPalette::WindowText, Qt::white);
    radioPalette.setColor(QPalette::Text, QColor(0x0B, 0x3C, 0x7A));
    radio->setPalette(radioPalette);
  }
  connect(toDisk_, &QRadioButton::clicked, this, [this] { SetToDisk(true); });
  connect(toFile_, &QRadioButton::clicked, this, [this] { SetToDisk(false); });

  Static(kSourceLabel, this, 16, 48);
  source_ = Edit(this, kEditX, 48, 334, false, true);
  Static(kStartLabel, this, 16, 82);
  sourceStart_ = Edit(this, kEditX, 82, 120, true, false);
  sourceStart_->setText(QStringLiteral("0"));
  Static(kCountLabel, this, 232, 82);
  count_ = Edit(this, 310, 82, 120, true, true);
  count_->setText(QStringLiteral("0"));

  targetLabel_ = Static(kTargetLabel, this, 16, 124);
  target_ = Edit(this, kEditX, 124, 334, false, true);
  targetStartLabel_ = Static(kStartLabel, this, 16, 158);
  targetStart_ = Edit(this, kEditX, 158, 120, true, false);
  targetStart_->setText(QStringLiteral("0"));

  fileLabel_ = Static(kFileLabel, this, 16, 200);
  file_ = Edit(this, kEditX, 200, 290, false, true);
  browse_ = new CXPButton(Q(kBrowse), this);
  browse_->setGeometry(392, 199, 38, kEditHeight + 2);
  connect(browse_, &QPushButton::clicked, this, &CImgDlg::ChooseFile);

  bar_ = new CTextProgressCtrl(this);
  bar_->setGeometry(16, 242, 414, 22);
  sectorsDone_ = new QLabel(QStringLiteral("0"), this);
  sectorsDone_->setGeometry(16, 272, 120, kEditHeight);
  sectorsDone_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  sectorsDoneCaption_ = Static(kImagingSectorsDone, this, 142, 272, 120);
  sectorsDoneCaption_->hide();

  start_ = new CXPButton(Q(kStart), this);
  start_->setGeometry(226, 300, 96, 30);
  stop_ = new CXPButton(Q(kStop), this);
  stop_->setGeometry(334, 300, 96, 30);
  connect(start_, &QPushButton::clicked, this, &CImgDlg::OnStart);
  connect(stop_, &QPushButton::clicked, this, &CImgDlg::OnStop);

  separator_ = new QFrame(this);
  separator_->setFrameShape(QFrame::VLine);
  separator_->setGeometry(kCompactWidth - 3, 8, 2, kHeight - 16);

  badList_ = new BadSectorList(this);
  badView_ = new QTableView(this);
  badView_->setModel(badList_);
  badView_->setGeometry(kCompactWidth + 6, 12, kFullWidth - kCompactWidth - 18, kHeight - 24);
  badView_->setShowGrid(true);
  badView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  badView_->verticalHeader()->hide();
  // Fixed row heights keep a list of millions of rows cheap.
  badView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  badView_->verticalHeader()->setDefaultSectionSize(20);
  badView_->setColumnWidth(0, 100);
  badView_->setColumnWidth(1, 110);
  badView_->hide();

  picker_ = new QTreeWidget(this);
  picker_->setHeaderHidden(true);
  picker_->setStyleSheet(
      QStringLiteral("QTreeWidget { color: white; background: %1; }").arg(ColorRef(kPickerColour).name()));
  picker_->hide();
  connect(picker_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) { Pick(item); });
  source_->installEventFilter(this);
  target_->installEventFilter(this);

  reports_ = std::make_unique<CImgDlgReports>(this, [this](const ImagingReport& report) { OnReport(report); });
  progress_->sink = reports_.get();

  showError = [this](const QString& text) { QMessageBox::warning(this, Q(kErrorTitle), text); };
  showInfo = [this](const QString& text) { QMessageBox::information(this, Q(kTitle), text); };
  confirm = [this](const QString& question) {
    return QMessageBox::question(this, Q(kTitle), question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
  };
  chooseFile = [this] { return QFileDialog::getSaveFileName(this, Q(kTitle), file_->text(), Q(kImageFilter)); };

  toDisk_->setChecked(true);
  SetToDisk(true);
  ShowBadList(false);
}

CImgDlg::~CImgDlg() {
  // The thread only posts to this window, so waiting for it cannot deadlock.
  progress_->RequestStop();
  while (!workers_.Idle()) QThread::msleep(5);
  workers_.Reap();
  progress_->sink = nullptr;
}

void CImgDlg::ShowWithSource(const QString& sourceText) {
  if (!running_) {
    source_->setText(sourceText);
    ImagingSelection selection;
    bool found = ResolveImagingTarget(disks_, sourceText.toStdString(), selection);
    count_->setText(QString::number(found ? selection.Sectors() : 0));
  }
  closeWhenDone_ = false;
  show();
  raise();
  activateWindow();
}

void CImgDlg::SetToDisk(bool toDisk) {
  toDisk_->setChecked(toDisk);
  toFile_->setChecked(!toDisk);
  for (QWidget* w : std::initializer_list<QWidget*>{target_, targetStart_, targetLabel_, targetStartLabel_})
    w->setEnabled(toDisk && !running_);
  for (QWidget* w : std::initializer_list<QWidget*>{file_, browse_, fileLabel_}) w->setEnabled(!toDisk && !running_);
  picker_->hide();
}

void CImgDlg::FillPicker() {
  picker_->clear();
  for (const DiskRecord& disk : disks_) {
    auto* diskItem = new QTreeWidgetItem(picker_, {QString::fromStdString(disk.Identity())});
    diskItem->setData(0, Qt::UserRole, QString::fromStdString(SelectionText(disk, nullptr)));
    diskItem->setData(0, Qt::UserRole + 1, QVariant::fromValue<qulonglong>(disk.sizeBytes / 512));
    for (const PartitionRecord& partition : disk.partitions) {
      QString name = QString::fromStdString(partition.name.empty() ? partition.volumeLabel : partition.name);
      auto* item = new QTreeWidgetItem(diskItem, {name});
      item->setData(0, Qt::UserRole, QString::fromStdString(SelectionText(disk, &partition)));
      item->setData(0, Qt::UserRole + 1, QVariant::fromValue<qulonglong>(partition.sectorCount));
    }
  }
  picker_->expandAll();
}

void CImgDlg::TogglePicker(QLineEdit* owner) {
  if (!owner->isEnabled()) return;
  if (picker_->isVisible() && pickerOwner_ == owner) {
    picker_->hide();
    return;
  }
  pickerOwner_ = owner;
  FillPicker();
  picker_->setGeometry(owner->x(), owner->y() + owner->height(), owner->width(), owner->height() * 4);
  picker_->show();
  picker_->raise();
}

void CImgDlg::Pick(QTreeWidgetItem* item) {
  if (!item || !pickerOwner_) return;
  pickerOwner_->setText(item->data(0, Qt::UserRole).toString());
  if (pickerOwner_ == source_) count_->setText(QString::number(item->data(0, Qt::UserRole + 1).toULongLong()));
  picker_->hide();
}

void CImgDlg::ChooseFile() {
  QString path = chooseFile ? chooseFile() : QString();
  if (!path.isEmpty()) file_->setText(path);
}

bool CImgDlg::BuildJob(ImagingJob& job) {
  if (!ResolveImagingTarget(disks_, source_->text().toStdString(), job.source)) {
    showError(Q(kImagingOpenFailed));
    return false;
  }
  job.startSector = Number(sourceStart_);
  // The count shows the selection's sectors; from a later start sector the
  // copy ends with the selection.
  uint64_t count = Number(count_);
  uint64_t available = job.source.Sectors();
  job.sectorCount = job.startSector < available && count < available - job.startSector ? count : 0;
  job.toDisk = toDisk_->isChecked();
  if (job.toDisk) {
    if (!ResolveImagingTarget(disks_, target_->text().toStdString(), job.target)) {
      showError(Q(kImagingTargetOpenFailed));
      return false;
    }
    job.targetStartSector = Number(targetStart_);
  } else {
    job.filePath = file_->text().toStdString();
  }
  return true;
}

void CImgDlg::OnStart() {
  if (running_) return;
  picker_->hide();
  if (source_->text().trimmed().isEmpty()) return showError(Q(kImagingNoSource));
  if (count_->text().trimmed().isEmpty()) return showError(Q(kImagingNoCount));
  if (sourceStart_->text().trimmed().isEmpty()) return showError(Q(kImagingNoSourceStart));
  if (toDisk_->isChecked()) {
    if (target_->text().trimmed().isEmpty()) return showError(Q(kImagingNoTarget));
    if (targetStart_->text().trimmed().isEmpty()) return showError(Q(kImagingNoTargetStart));
  } else if (file_->text().trimmed().isEmpty()) {
    return showError(Q(kImagingNoFile));
  }
  ImagingJob job;
  if (!BuildJob(job)) return;
  // Nothing is opened for writing before these checks pass.
  if (ImagingRefusal refusal = PlanImaging(job, plan_)) return showError(Q(refusal.text));
  if (job.toDisk && confirm && !confirm(Q(kImagingConfirmDisk).arg(target_->text()))) return;
  if (!TryClaimOperation()) return showError(Q(kImagingBusy));

  running_ = true;
  closeWhenDone_ = false;
  SetInputsEnabled(false);
  progress_->stopFlag.store(0);
  reports_->Reset();
  badList_->Clear();
  ShowBadList(false);
  bar_->SetRange(0, 0);
  bar_->SetPos(0);
  sectorsDone_->setText(QStringLiteral("0"));
  sectorsDoneCaption_->show();
  workers_.Start([this, plan = plan_] {
    ImagingOutcome outcome;
    {
      OperationBusyGuard busy;  // for the whole run, cleared on every path
      outcome = RunImaging(plan, *progress_, reports_.get());
    }
    PostToWindow(this, [this, outcome] { OnFinished(outcome); });
  });
}

void CImgDlg::OnStop() {
  if (running_) progress_->RequestStop();
}

void CImgDlg::OnReport(const ImagingReport& report) {
  if (bar_->GetUpper() != static_cast<int64_t>(report.barUpper))
    bar_->SetRange(0, static_cast<int64_t>(std::min<uint64_t>(report.barUpper, INT64_MAX / 2)));
  bar_->SetPos(static_cast<int64_t>(std::min<uint64_t>(report.barPosition, INT64_MAX / 2)));
  sectorsDone_->setText(QString::number(report.sectorsDone));
  if (!report.newBadSectors.empty()) {
    ShowBadList(true);
    badList_->Append(report.newBadSectors);
  }
}

void CImgDlg::OnFinished(const ImagingOutcome& outcome) {
  reports_->Deliver();  // the last reports first
  workers_.Reap();
  running_ = false;
  SetInputsEnabled(true);
  switch (outcome.status) {
    case ImagingOutcome::Status::kDone:
      if (!closeWhenDone_) showInfo(Q(kImagingDone));
      hide();
      break;
    case ImagingOutcome::Status::kStopped:
      bar_->SetPos(0);
      hide();
      break;
    // Failures leave the dialog open, so another target can be chosen; none
    // of them is ever called done.
    case ImagingOutcome::Status::kSourceOpenFailed:
      if (!closeWhenDone_) showError(Q(kImagingOpenFailed));
      break;
    case ImagingOutcome::Status::kTargetOpenFailed:
      if (!closeWhenDone_) showError(Q(kImagingTargetOpenFailed));
      break;
    case ImagingOutcome::Status::kWriteFailed:
      if (!closeWhenDone_) showError(Q(kImagingWriteFailed));
      break;
  }
  emit RunFinished(static_cast<int>(outcome.status));
}

void CImgDlg::StopAndWait() {
  if (!running_) return;
  closeWhenDone_ = true;
  progress_->RequestStop();
  while (running_) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
}

void CImgDlg::SetInputsEnabled(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{source_, sourceStart_, count_, toDisk_, toFile_})
    w->setEnabled(enabled);
  start_->setEnabled(enabled);
  SetToDisk(toDisk_->isChecked());
}

void CImgDlg::ShowBadList(bool shown) {
  if (shown == !badView_->isHidden() && width() == (shown ? kFullWidth : kCompactWidth)) return;
  badView_->setVisible(shown);
  setFixedSize(shown ? kFullWidth : kCompactWidth, kHeight);
}

bool CImgDlg::BadListShown() const { return !badView_->isHidden() && width() == kFullWidth; }

bool CImgDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress && (watched == source_ || watched == target_))
    TogglePicker(static_cast<QLineEdit*>(watched));
  return QDialog::eventFilter(watched, event);
}

void CImgDlg::closeEvent(QCloseEvent* event) {
  // A running copy is asked to stop and the window closes; the thread ends
  // after its current block or sector.
  if (running_) {
    closeWhenDone_ = true;
    progress_->RequestStop();
  }
  picker_->hide();
  event->accept();
}

void CImgDlg::reject() { close(); }

void CImgDlg::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), ColorRef(Colours::kDialogBrush));
}

}  // namespace quorvel
