#include "ui/text_progress_ctrl.h"

#include <QPainter>
#include <QPalette>
#include <algorithm>

#include "ui/artwork.h"

namespace quorvel {

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // the paint covers everything
  // A deep bar over the light-blue empty part; the text inverts between them.
  barColour_ = QColor(0x0B, 0x3C, 0x7A);
  bgColour_ = ColorRef(13145700);
  textOnBar_ = Qt::white;
  textOnBg_ = barColour_;
  setMinimumHeight(18);
}

void CTextProgressCtrl::SetRange(int64_t lower, int64_t upper) {
  lower_ = lower;
  upper_ = upper;
  position_ = std::clamp(position_, std::min(lower_, upper_), std::max(lower_, upper_));
  lastWidth_ = -1;
  RedrawIfChanged();
}

int64_t CTextProgressCtrl::StepIt() { return SetPos(position_ + step_); }

int64_t CTextProgressCtrl::SetPos(int64_t position) {
  int64_t previous = position_;
  position_ = upper_ > lower_ ? std::clamp(position, lower_, upper_) : lower_;
  RedrawIfChanged();
  return previous;
}

void CTextProgressCtrl::SetWindowText(const QString& text) {
  ownText_ = text;
  update();
}

void CTextProgressCtrl::SetShowText(bool show) {
  showText_ = show;
  update();
}

void CTextProgressCtrl::SetFinished(bool finished) {
  finished_ = finished;
  update();
}

void CTextProgressCtrl::SetTextColours(const QColor& onBar, const QColor& onBackground) {
  textOnBar_ = onBar;
  textOnBg_ = onBackground;
  update();
}

int CTextProgressCtrl::Percent() const {
  if (upper_ <= lower_) return 0;
  return static_cast<int>(static_cast<double>(position_ - lower_) / static_cast<double>(upper_ - lower_) * 100.0);
}

int CTextProgressCtrl::FilledWidth() const {
  if (upper_ <= lower_) return 0;
  double f = static_cast<double>(position_ - lower_) / static_cast<double>(upper_ - lower_);
  return static_cast<int>(f * width());
}

QString CTextProgressCtrl::DisplayText() const {
  if (upper_ <= lower_ || !showText_) return QString();
  if (!ownText_.isEmpty()) return ownText_;
  int percent = Percent();
  if (percent >= 100 && finished_) return QStringLiteral("等待...");
  return QString::asprintf("%d%%", percent);
}

void CTextProgressCtrl::RedrawIfChanged() {
  // Workers may report per record; only a change of at least one pixel (or of
  // the shown percentage) costs a repaint.
  int w = FilledWidth();
  int percent = Percent();
  if (w == lastWidth_ && percent == lastPercent_) return;
  lastWidth_ = w;
  lastPercent_ = percent;
  ++redrawRequests_;
  update();
}

void CTextProgressCtrl::resizeEvent(QResizeEvent* event) {
  lastWidth_ = -1;
  QWidget::resizeEvent(event);
}

void CTextProgressCtrl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QRect all = rect();
  painter.fillRect(all, bgColour_);
  if (upper_ <= lower_) return;  // nothing to show
  int filled = FilledWidth();
  QRect bar(0, 0, filled, all.height());
  QRect rest(filled, 0, all.width() - filled, all.height());
  painter.fillRect(bar, barColour_);
  QString text = DisplayText();
  if (text.isEmpty()) return;
  painter.setFont(font());
  painter.save();
  painter.setClipRect(bar);
  painter.setPen(textOnBar_);
  painter.drawText(all, Qt::AlignCenter | Qt::TextSingleLine, text);
  painter.restore();
  painter.setClipRect(rest);
  painter.setPen(textOnBg_);
  painter.drawText(all, Qt::AlignCenter | Qt::TextSingleLine, text);
}

}  // namespace quorvel
