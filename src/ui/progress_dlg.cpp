#include "ui/progress_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/artwork.h"
#include "ui/progress_dlg_sink.h"
#include "ui/text_progress_ctrl.h"
#include "ui/xp_button.h"

namespace quorvel {

namespace {
const char* const kCaption = "进度";
const char* const kDefaultText = "提示信息";
const char* const kStop = "停止";
constexpr int64_t kBarLimit = INT64_MAX / 2;
}  // namespace

CProgressDlg::CProgressDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      progress_(std::make_unique<ScanProgress>()) {
  sink_ = std::make_unique<CProgressDlgSink>(this);
  progress_->sink = sink_.get();
  setWindowTitle(QString::fromUtf8(kCaption));
  setModal(false);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, Qt::white);
  setPalette(pal);

  caption_ = new QLabel(QString::fromUtf8(kDefaultText), this);
  detail_ = new QLabel(this);
  detail_->setStyleSheet(QStringLiteral("color: #DCDCDC;"));
  bar_ = new CTextProgressCtrl(this);
  bar_->setFixedHeight(22);
  stop_ = new CXPButton(QString::fromUtf8(kStop), this);
  connect(stop_, &QPushButton::clicked, this, [this] { progress_->RequestStop(); });

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 16, 18, 14);
  layout->setSpacing(8);
  layout->addWidget(caption_);
  layout->addWidget(bar_);
  layout->addWidget(detail_);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(stop_);
  layout->addLayout(buttons);
  setFixedSize(400, 150);
}

CProgressDlg::~CProgressDlg() { progress_->sink = nullptr; }

void CProgressDlg::SetCaptionText(const QString& text) { caption_->setText(text); }
QString CProgressDlg::CaptionText() const { return caption_->text(); }
QString CProgressDlg::ProgressTextShown() const { return detail_->text(); }

void CProgressDlg::StartOperation(const QString& title, const QString& caption) {
  progress_->stopFlag.store(0);
  progress_->SetText(std::string());
  SetCaptionText(caption);
  detail_->clear();
  bar_->SetRange(0, 100);
  bar_->SetStep(1);
  bar_->SetPos(0);
  bar_->SetFinished(false);
  setWindowTitle(title);
  show();
  raise();
}

void CProgressDlg::OnProgressRange(uint64_t upper, uint64_t step) {
  bar_->SetRange(0, static_cast<int64_t>(std::min<uint64_t>(upper, kBarLimit)));
  bar_->SetStep(static_cast<int64_t>(std::min<uint64_t>(step, kBarLimit)));
  bar_->SetPos(0);
}

void CProgressDlg::OnProgressStep() { bar_->StepIt(); }

void CProgressDlg::OnProgressPos(uint64_t position) {
  bar_->SetPos(static_cast<int64_t>(std::min<uint64_t>(position, kBarLimit)));
}

void CProgressDlg::OnProgressText(const QString& text) { detail_->setText(text); }

void CProgressDlg::OnWorkerClose() {
  hide();
  emit WorkerClosed();
}

void CProgressDlg::reject() { progress_->RequestStop(); }

void CProgressDlg::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), ColorRef(Colours::kDialogBrush));
}

}  // namespace quorvel
