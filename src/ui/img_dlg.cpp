#include "ui/img_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
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
#include <QStandardPaths>
#include <QTableView>
#include <QThread>
#include <QTreeWidget>

#include "core/operation_busy.h"
#include "core/terminal_progress.h"
#include "imaging/imaging_resume.h"
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
// The rescue's status under the bar.
const char* const kPhaseLabel = "阶段：";
const char* const kRescuedLabel = "已抢救：";
const char* const kBadAreasLabel = "坏区：";
const char* const kRateLabel = "读取速度：";
const char* const kPass = "%1 第%2遍";
const char* const kCopying = "复制";
const char* const kTrimming = "修剪";
const char* const kScraping = "刮擦";
const char* const kRetrying = "重试";
const char* const kFinished = "完成";
// Resuming from the run's mapfile.
const char* const kResumeQuestion = "发现未完成的镜像记录 %1，是否从中断处继续？\n选择“否”将重新开始镜像。";
const char* const kMapfileUnusable = "镜像记录 %1 无法继续使用（%2），是否重新开始镜像？";
const char* const kMapfileFailed = "镜像记录文件无法写入";
constexpr uint32_t kPickerColour = 9856100;

// The dialog is first as wide as its separator; the first bad sector widens
// it to show the list.
constexpr int kCompactWidth = 446;
constexpr int kFullWidth = 690;
constexpr int kHeight = 400;
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

  Static(kPhaseLabel, this, 16, 300, 50);
  phase_ = Static("", this, 66, 300, 150);
  Static(kRateLabel, this, 232, 300, 78);
  rate_ = Static("", this, 310, 300, 120);
  Static(kRescuedLabel, this, 16, 324, 64);
  rescued_ = Static("", this, 80, 324, 136);
  Static(kBadAreasLabel, this, 232, 324, 50);
  badAreas_ = Static("", this, 282, 324, 148);

  start_ = new CXPButton(Q(kStart), this);
  start_->setGeometry(226, 358, 96, 30);
  stop_ = new CXPButton(Q(kStop), this);
  stop_->setGeometry(334, 358, 96, 30);
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
  Mapfile map;
  bool resume = false;
  if (!PrepareMapfile(job, map, resume)) return;
  if (!TryClaimOperation()) return showError(Q(kImagingBusy));
  ImagingRunOptions options;
  options.mapfilePath = MapfilePathFor(plan_).toStdString();
  options.heading = {"Imaging: " + source_->text().toStdString() + " -> " +
                         (job.toDisk ? target_->text().toStdString() : plan_.targetPath),
                     "Start time:   " + QDateTime::currentDateTime().toString(Qt::ISODate).toStdString()};

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
  for (QLabel* label : {phase_, rescued_, badAreas_, rate_}) label->clear();
  // A resumed run lists the bad sectors found before as well.
  std::vector<uint64_t> known;
  for (const BadSectorRun& run : BadRunsOf(map, plan_.sourcePosition, plan_.length))
    for (uint64_t i = 0; i < run.count && known.size() < 10000000; ++i) known.push_back(run.first + i);
  if (!known.empty()) {
    ShowBadList(true);
    badList_->Append(known);
  }
  workers_.Start([this, plan = plan_, options, map]() mutable {
    ImagingOutcome outcome;
    {
      OperationBusyGuard busy;  // for the whole run, cleared on every path
      outcome = RunImaging(plan, options, map, *progress_, reports_.get());
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
  if (report.haveStatus) ShowStatus(report.status);
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
    case ImagingOutcome::Status::kMapfileFailed:
      if (!closeWhenDone_) showError(Q(kMapfileFailed) + QStringLiteral("\n") + QString::fromStdString(outcome.error));
      break;
  }
  emit RunFinished(static_cast<int>(outcome.status));
}

QString CImgDlg::MapfilePathFor(const ImagingPlan& plan) {
  if (plan.openMode != TargetOpenMode::kExistingDisk) return QString::fromStdString(plan.targetPath) + ".map";
  // A disk has no folder of its own: the record is named after the disk and
  // where the copy lands on it.
  QString name = QString::fromStdString(plan.targetPath);
  name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
  QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/imaging";
  QDir().mkpath(folder);
  return folder + "/" + name + "-" + QString::number(plan.targetPosition / kImagingSectorBytes) + ".map";
}

bool CImgDlg::PrepareMapfile(ImagingJob& job, Mapfile& map, bool& resume) {
  QString path = MapfilePathFor(plan_);
  MapfileLoad load = LoadMapfile(path.toStdString(), plan_, map);
  resume = false;
  // Writing the record there would touch the source or the image itself.
  if (load.problem == MapfileLoad::Problem::kOnSource || load.problem == MapfileLoad::Problem::kIsTarget) {
    showError(Q(kImagingTargetIsSource));
    return false;
  }
  if (!load) {
    if (confirm && !confirm(Q(kMapfileUnusable).arg(path, QString::fromStdString(load.detail)))) return false;
    map = Mapfile();
    return true;
  }
  // A finished record belongs to a rescue that is over: a new run starts.
  if (!load.resume || map.currentStatus == MapStatus::kFinished) {
    map = Mapfile();
    return true;
  }
  resume = !confirm || confirm(Q(kResumeQuestion).arg(path));
  if (!resume) {
    map = Mapfile();
    return true;
  }
  job.keepTargetFile = true;
  if (ImagingRefusal refusal = PlanImaging(job, plan_)) {
    showError(Q(refusal.text));
    return false;
  }
  return true;
}

void CImgDlg::ShowStatus(const RescueStatus& status) {
  QString phase;
  switch (status.phase) {
    case RescuePhase::kCopying:
      phase = Q(kCopying);
      break;
    case RescuePhase::kTrimming:
      phase = Q(kTrimming);
      break;
    case RescuePhase::kScraping:
      phase = Q(kScraping);
      break;
    case RescuePhase::kRetrying:
      phase = Q(kRetrying);
      break;
    case RescuePhase::kFinished:
      phase = Q(kFinished);
      break;
  }
  if (status.phase != RescuePhase::kFinished) phase = Q(kPass).arg(phase).arg(status.pass);
  phase_->setText(phase);
  rescued_->setText(QString::fromStdString(ByteSizeText(static_cast<double>(status.tally.finished))));
  badAreas_->setText(QStringLiteral("%1 (%2)")
                         .arg(status.tally.badAreas)
                         .arg(QString::fromStdString(ByteSizeText(static_cast<double>(status.tally.badSector)))));
  rate_->setText(QString::fromStdString(ByteSizeText(status.currentRate)) + QStringLiteral("/s"));
  sectorsDone_->setText(QString::number((status.tally.finished + status.tally.badSector) / kImagingSectorBytes));
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
