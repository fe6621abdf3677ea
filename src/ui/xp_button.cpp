#include "ui/xp_button.h"

#include <QEnterEvent>
#include <QLinearGradient>
#include <QPainter>

namespace quorvel {

CXPButton::CXPButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setCursor(Qt::PointingHandCursor);
  setMinimumHeight(28);
}

QSize CXPButton::sizeHint() const {
  QSize text = fontMetrics().size(Qt::TextSingleLine, this->text());
  return QSize(std::max(88, text.width() + 36), std::max(30, text.height() + 12));
}

void CXPButton::enterEvent(QEnterEvent* event) {
  hover_ = true;
  update();
  QPushButton::enterEvent(event);
}

void CXPButton::leaveEvent(QEvent* event) {
  hover_ = false;
  update();
  QPushButton::leaveEvent(event);
}

void CXPButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QColor top(0x3C, 0x8D, 0xE0), bottom(0x14, 0x5A, 0xA8);
  if (!isEnabled()) {
    top = QColor(0xB8, 0xC0, 0xCA);
    bottom = QColor(0x98, 0xA2, 0xAE);
  } else if (isDown()) {
    top = QColor(0x10, 0x4A, 0x8C);
    bottom = QColor(0x2A, 0x74, 0xC4);
  } else if (hover_) {
    top = QColor(0x5A, 0xA8, 0xF4);
    bottom = QColor(0x1C, 0x6C, 0xC4);
  }
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  p.setPen(QPen(QColor(0x0A, 0x36, 0x6E), 1));
  p.setBrush(g);
  p.drawRoundedRect(r, 5, 5);
  if (hasFocus()) {
    p.setPen(QPen(QColor(255, 255, 255, 120), 1, Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r.adjusted(3, 3, -3, -3), 3, 3);
  }
  p.setPen(isEnabled() ? Qt::white : QColor(0xF0, 0xF0, 0xF0));
  p.setFont(font());
  p.drawText(rect(), Qt::AlignCenter, text());
}

}  // namespace quorvel
