#include "ui/quorvel_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>

#include "core/operation_busy.h"
#include "recover/partition_launch.h"
#include "ui/about_dlg.h"
#include "ui/animate_button.h"
#include "ui/artwork.h"
#include "ui/contact_dlg.h"
#include "ui/file_dlg.h"
#include "ui/hd_dlg.h"
#include "ui/progress_dlg.h"

namespace quorvel {

namespace {
constexpr int kBannerHeight = 134;
constexpr int kSidePanelWidth = 220;
constexpr int kBottomStrip = 22;
constexpr int kButtonRowTop = 30;

struct FunctionTexts {
  const char* title;
  const char* description;
  const char* hint;
  const char* mainButton;
};
const char* const kHintHeading = "操作方法";
const char* const kProduct = "Quorvel 数据恢复";
const char* const kFooter = "源磁盘只读访问 · 恢复的文件只写入您选择的文件夹";
const FunctionTexts kFunctions[CQuorvelDlg::kFunctionCount] = {
    {"文件删除恢复",
     "恢复shift+del删除或者从回收站删除文件;恢复卸载软件而丢失的文件;恢复杀毒软件造成丢失的文件;"
     "恢复chkdsk磁盘检查后变成.chk的文件",
     "双击分区或点击展开按钮", "展开"},
    {"格式化恢复", "恢复重装系统丢失的文件;恢复误Ghost丢失的文件;恢复格式化而丢失的文件", "双击分区或点击扫描按钮",
     "扫描"},
    {"扫描丢失分区",
     "适合删除分区的恢复;适合重新分区后的恢复;适合整个硬盘变成一个分区的恢复;适合分区打不开，提示格式化的恢复;"
     "适合Ghost后变成一个分区的恢复",
     "在磁盘上右击或者点击按钮", "展开"},
    {"深度扫描", "适合目录破坏的恢复;可以按文件类型扫描", "在磁盘或分区上右击或者点击按钮", "展开"},
    {"镜像功能", "此功能适合于两类:磁盘设备与文件.他们可以作为源设备,也可以作为目标设备",
     "在磁盘或分区上右击、双击或者点击按钮", "镜像"},
    {"打开扫描信息", "打开 扫描丢失分区、深度扫描 的结果", "在磁盘上右击或者点击打开按钮", "打开"},
};
const char* const kLinkTexts[] = {"使用说明", "技术支持", "联系我们", "关于"};
const char* const kHelpText =
    "1. 在上方选择功能, 例如\"文件删除恢复\"。\n"
    "2. 在磁盘列表中双击分区 (或选中后点击\"展开\")。\n"
    "3. 在左侧目录树中点击文件夹; 红色的是已删除的文件和文件夹。\n"
    "4. 勾选要恢复的项目, 右击选择\"多选保存\", 选择另一个磁盘上的文件夹。\n"
    "5. 右击文件选择\"Hex查看\"可先查看文件内容。\n\n"
    "源磁盘始终以只读方式打开。";

QString Q(const char* text) { return QString::fromUtf8(text); }

// Breaks ";"-separated descriptions into lines for the narrow panel.
QString PanelLines(const char* description) { return Q(description).replace(QLatin1Char(';'), QLatin1Char('\n')); }

QLabel* PanelLabel(QWidget* parent, int pixelSize, bool bold) {
  auto* label = new QLabel(parent);
  QFont f = label->font();
  f.setPixelSize(pixelSize);
  f.setBold(bold);
  label->setFont(f);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, ColorRef(Colours::kPanelText));
  label->setPalette(pal);
  label->setAttribute(Qt::WA_TranslucentBackground);
  label->setAttribute(Qt::WA_TransparentForMouseEvents);  // presses reach the window (dragging)
  return label;
}
}  // namespace

CQuorvelDlg::CQuorvelDlg(DiskList& disks, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint), disks_(disks) {
  setWindowTitle(Q(kProduct));
  setWindowIcon(AppIcon());
  setAttribute(Qt::WA_OpaquePaintEvent);

  for (int f = 0; f < kFunctionCount; ++f) {
    auto* button = new CAnimateButton(CAnimateButton::kFunction, f, Q(kFunctions[f].title), this);
    button->setCheckable(true);
    connect(button, &QAbstractButton::clicked, this, [this, f] { ChooseFunction(f); });
    functionButtons_[f] = button;
  }
  minimise_ = new CAnimateButton(CAnimateButton::kMinimise, 0, QStringLiteral("-"), this);
  maximise_ = new CAnimateButton(CAnimateButton::kMaximise, 0, QStringLiteral("+"), this);
  close_ = new CAnimateButton(CAnimateButton::kClose, 0, QStringLiteral("x"), this);
  minimise_->setToolTip(QStringLiteral("最小化"));
  maximise_->setToolTip(QStringLiteral("最大化/还原"));
  close_->setToolTip(QStringLiteral("关闭"));
  connect(minimise_, &QAbstractButton::clicked, this, &QWidget::showMinimized);
  connect(maximise_, &QAbstractButton::clicked, this, &CQuorvelDlg::ToggleMaximise);
  connect(close_, &QAbstractButton::clicked, this, &QDialog::close);

  title_ = PanelLabel(this, 20, true);
  description_ = PanelLabel(this, 13, false);
  hintHeading_ = PanelLabel(this, 15, true);
  hint_ = PanelLabel(this, 13, false);
  hintHeading_->setText(Q(kHintHeading));

  for (int i = 0; i < 4; ++i) {
    auto* link = new QLabel(
        QStringLiteral("<a href=\"#\" style=\"color:#DCDCDC;text-decoration:none\">%1</a>").arg(Q(kLinkTexts[i])),
        this);
    link->setCursor(Qt::PointingHandCursor);
    QFont linkFont = link->font();
    linkFont.setPixelSize(12);
    link->setFont(linkFont);
    connect(link, &QLabel::linkActivated, this, [this, i] {
      if (i == 0) {
        QMessageBox::information(this, Q(kLinkTexts[0]), Q(kHelpText));
      } else if (i == 3) {
        CAboutDlg(this).exec();
      } else {
        CContactDlg(this).exec();
      }
    });
    links_.append(link);
  }

  filePage_ = new CFileDlg(disks_, this);
  diskPage_ = new CHdDlg(disks_, filePage_, this);
  connect(diskPage_, &CHdDlg::SelectionStored, this, [this](const QString& disk, const QString& partition) {
    selectedDisk_ = disk;
    selectedPartition_ = partition;
  });
  connect(diskPage_, &CHdDlg::DiscardRequested, this, &CQuorvelDlg::DiscardLastFileLists);
  connect(diskPage_, &CHdDlg::FilePageOpened, this, [this](const QString& disk, const QString& partition) {
    shownDisk_ = disk;
    shownPartition_ = partition;
    ShowFilePage();
  });
  connect(filePage_, &CFileDlg::BackRequested, this, &CQuorvelDlg::ShowDiskPage);

  // 4/5 of the screen each way, centred.
  QRect screen =
      QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry() : QRect(0, 0, 1280, 800);
  resize(std::max(960, screen.width() * 4 / 5), std::max(640, screen.height() * 4 / 5));
  move(screen.center() - rect().center());
  filePage_->hide();
  diskPage_->show();
  ChooseFunction(0);
}

CQuorvelDlg::~CQuorvelDlg() = default;

QString CQuorvelDlg::PanelTitle() const { return title_->text(); }
QString CQuorvelDlg::PanelDescription() const { return description_->text(); }
QString CQuorvelDlg::PanelHint() const { return hint_->text(); }

void CQuorvelDlg::ChooseFunction(int function) {
  if (function < 0 || function >= kFunctionCount) return;
  const FunctionTexts& texts = kFunctions[function];
  title_->setText(Q(texts.title));
  description_->setText(PanelLines(texts.description));
  hintHeading_->setText(Q(kHintHeading));
  hint_->setText(Q(texts.hint));
  filePage_->hide();
  diskPage_->hide();
  diskPage_->show();
  diskPage_->SetFunction(function, Q(texts.mainButton));
  function_ = function;
  diskPage_->ShowIdleStatus();
  for (int f = 0; f < kFunctionCount; ++f) functionButtons_[f]->setChecked(f == function);
  DiscardLastFileLists();
  LayoutWindow();
}

void CQuorvelDlg::DiscardLastFileLists() {
  filePage_->ClearLists();
  if (shownDisk_.isEmpty()) return;
  // The running worker owns its tree; it is emptied before the next run anyway.
  if (OperationBusy().load()) return;
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  if (FindLaunchTarget(disks_, shownDisk_.toStdString(), shownPartition_.toStdString(), disk, partition))
    EmptyPartitionTree(*partition);
}

void CQuorvelDlg::ShowFilePage() {
  diskPage_->hide();
  filePage_->show();
}

void CQuorvelDlg::ShowDiskPage() {
  filePage_->hide();
  diskPage_->show();
}

bool CQuorvelDlg::IsCaptionPoint(const QPoint& clientPoint) const {
  return clientPoint.y() >= 0 && clientPoint.y() < kCaptionBand && rect().contains(clientPoint);
}

void CQuorvelDlg::ToggleMaximise() {
  if (isMaximized())
    showNormal();
  else
    showMaximized();
}

void CQuorvelDlg::LayoutWindow() {
  const int w = width(), h = height();
  minimise_->move(w - 80, 3);
  maximise_->move(w - 55, 3);
  close_->move(w - 30, 3);
  int x = 16;
  for (CAnimateButton* button : functionButtons_) {
    button->move(x, kButtonRowTop);
    x += button->width() + 6;
  }
  // Link labels: a column near the right edge, from just below the button row's top.
  int y = kButtonRowTop + 10;
  for (QLabel* link : links_) {
    QSize size = link->sizeHint();
    link->setGeometry(w - 50 - size.width() + 30, y, size.width(), size.height());
    y += size.height() + 5;
  }
  const int panelTop = kBannerHeight + 18;
  const int panelWidth = kSidePanelWidth - 32;
  title_->setGeometry(16, panelTop, panelWidth, 30);
  int descriptionHeight = description_->heightForWidth(panelWidth);
  description_->setGeometry(16, panelTop + 40, panelWidth, std::max(40, descriptionHeight));
  int hintTop = panelTop + 40 + std::max(40, descriptionHeight) + 24;
  hintHeading_->setGeometry(16, hintTop, panelWidth, 24);
  hint_->setGeometry(16, hintTop + 30, panelWidth, std::max(40, hint_->heightForWidth(panelWidth)));
  pageRect_ = QRect(kSidePanelWidth, kBannerHeight, w - kSidePanelWidth, h - kBannerHeight - kBottomStrip);
  QRect inner = pageRect_.adjusted(8, 8, -8, -4);
  diskPage_->setGeometry(inner);
  filePage_->setGeometry(inner);
  update();
}

void CQuorvelDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  LayoutWindow();
}

void CQuorvelDlg::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int w = width(), h = height();
  PaintBanner(p, QRect(0, 0, w, kBannerHeight));
  PaintSidePanel(p, QRect(0, kBannerHeight, kSidePanelWidth, h - kBannerHeight));
  p.fillRect(pageRect_, ColorRef(Colours::kPageArea));
  // Bottom strip under the page.
  QRect strip(kSidePanelWidth, h - kBottomStrip, w - kSidePanelWidth, kBottomStrip);
  p.fillRect(strip, QColor(0x0A, 0x28, 0x50));
  QFont f = font();
  f.setPixelSize(12);
  p.setFont(f);
  p.setPen(ColorRef(Colours::kPanelText));
  p.drawText(strip.adjusted(12, 0, -12, 0), Qt::AlignVCenter | Qt::AlignRight, Q(kFooter));
  f.setPixelSize(15);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawPixmap(16, 6, AppIcon().pixmap(20, 20));
  p.drawText(QRect(42, 4, 400, 24), Qt::AlignVCenter | Qt::AlignLeft, Q(kProduct));
  // A thin frame: the window has no border of its own.
  p.setPen(QColor(0x06, 0x1A, 0x36));
  p.setBrush(Qt::NoBrush);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CQuorvelDlg::mousePressEvent(QMouseEvent* event) {
  QPoint point = event->position().toPoint();
  if (event->button() == Qt::LeftButton && IsCaptionPoint(point) && !isMaximized()) {
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    event->accept();
    return;
  }
  QDialog::mousePressEvent(event);
}

void CQuorvelDlg::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_) {
    move(event->globalPosition().toPoint() - dragOffset_);
    event->accept();
    return;
  }
  QDialog::mouseMoveEvent(event);
}

void CQuorvelDlg::mouseReleaseEvent(QMouseEvent* event) {
  dragging_ = false;
  QDialog::mouseReleaseEvent(event);
}

void CQuorvelDlg::mouseDoubleClickEvent(QMouseEvent* event) {
  // As on a title bar: a double-click in the band maximises or restores.
  if (event->button() == Qt::LeftButton && IsCaptionPoint(event->position().toPoint())) ToggleMaximise();
}

void CQuorvelDlg::reject() {
  // Escape must not close the main window by accident.
}

void CQuorvelDlg::closeEvent(QCloseEvent* event) {
  // A running worker is asked to stop and is waited for: it may be writing a
  // file, and it uses the windows' data until it ends.
  diskPage_->StopImaging();
  if (OperationBusy().load() || !filePage_->WorkersIdle()) {
    diskPage_->OnStop();  // the scans' and the file page's stop flags
    while (OperationBusy().load() || !filePage_->WorkersIdle()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      filePage_->ReapWorkers();
      QThread::msleep(5);
    }
  }
  event->accept();
  done(QDialog::Accepted);
}

}  // namespace quorvel
