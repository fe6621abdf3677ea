#include "ui/animate_button.h"

#include <QBitmap>
#include <QEnterEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "ui/artwork.h"

namespace quorvel {

namespace {
constexpr int kTimerMs = 10;
constexpr int kAlphaStep = 30;
}  // namespace

CAnimateButton::CAnimateButton(Kind kind, int function, const QString& text, QWidget* parent)
    : QAbstractButton(parent), kind_(kind), function_(function) {
  setText(text);
  setCursor(Qt::PointingHandCursor);
  frameSize_ = kind == kFunction ? QSize(104, 88) : QSize(22, 20);
  resize(frameSize_);
  BuildFrames();
  shown_ = frames_[0];
  timer_.setInterval(kTimerMs);
  connect(&timer_, &QTimer::timeout, this, [this] {
    alpha_ += kAlphaStep;
    if (alpha_ > 254) {
      alpha_ = 255;
      timer_.stop();
    }
    update();
  });
  connect(this, &QAbstractButton::toggled, this, [this] { FadeTo(RestingFrame()); });
}

void CAnimateButton::BuildFrames() {
  const QSize size = frameSize_;
  for (int frame = 0; frame < 3; ++frame) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF r = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(0.5, 0.5, -0.5, -0.5);
    if (kind_ == kFunction) {
      // Normal: only a faint outline; hover: a light glass face; pressed: deeper.
      QLinearGradient g(r.topLeft(), r.bottomLeft());
      if (frame == 0) {
        g.setColorAt(0, QColor(255, 255, 255, 18));
        g.setColorAt(1, QColor(255, 255, 255, 6));
      } else if (frame == 1) {
        g.setColorAt(0, QColor(120, 190, 255, 150));
        g.setColorAt(1, QColor(40, 110, 200, 120));
      } else {
        g.setColorAt(0, QColor(10, 50, 110, 220));
        g.setColorAt(1, QColor(40, 120, 210, 200));
      }
      p.setPen(QPen(QColor(255, 255, 255, frame == 0 ? 40 : 110), 1));
      p.setBrush(g);
      p.drawRoundedRect(r, 8, 8);
      QColor ink = frame == 2 ? QColor(0xFF, 0xE0, 0x8A) : Qt::white;
      QPixmap glyph = FunctionGlyph(function_, 40, ink);
      p.drawPixmap((size.width() - 40) / 2, 10 + (frame == 2 ? 1 : 0), glyph);
      QFont f = font();
      f.setPixelSize(13);
      f.setBold(frame != 0);
      p.setFont(f);
      p.setPen(ink);
      p.drawText(QRect(0, 56, size.width(), 24), Qt::AlignCenter, text());
    } else {
      QColor face = frame == 0 ? QColor(255, 255, 255, 30)
                               : (kind_ == kClose ? QColor(0xE0, 0x40, 0x40, frame == 1 ? 220 : 255)
                                                  : QColor(255, 255, 255, frame == 1 ? 90 : 140));
      p.setPen(Qt::NoPen);
      p.setBrush(face);
      p.drawRoundedRect(r, 4, 4);
      p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
      QPointF c = r.center();
      if (kind_ == kMinimise) {
        p.drawLine(QPointF(c.x() - 5, c.y() + 3), QPointF(c.x() + 5, c.y() + 3));
      } else if (kind_ == kMaximise) {
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(c.x() - 5, c.y() - 4, 10, 8));
      } else {
        p.drawLine(QPointF(c.x() - 4, c.y() - 4), QPointF(c.x() + 4, c.y() + 4));
        p.drawLine(QPointF(c.x() + 4, c.y() - 4), QPointF(c.x() - 4, c.y() + 4));
      }
    }
    frames_[frame] = pixmap;
  }
  // The window shape: every pixel the frame paints.
  setMask(frames_[1].mask());
}

int CAnimateButton::RestingFrame() const {
  if (isDown() || isChecked()) return 2;
  return hover_ ? 1 : 0;
}

void CAnimateButton::FadeTo(int frame) {
  if (frame == target_ && alpha_ >= 255) return;
  // Start from whatever is on screen now.
  QPixmap current(frameSize_);
  current.fill(Qt::transparent);
  {
    QPainter p(&current);
    p.drawPixmap(0, 0, shown_);
    p.setOpacity(alpha_ / 255.0);
    p.drawPixmap(0, 0, frames_[target_]);
  }
  shown_ = current;
  target_ = frame;
  alpha_ = kAlphaStep;
  timer_.start();
  update();
}

void CAnimateButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, shown_);
  p.setOpacity(alpha_ / 255.0);
  p.drawPixmap(0, 0, frames_[target_]);
}

void CAnimateButton::enterEvent(QEnterEvent* event) {
  hover_ = true;
  FadeTo(RestingFrame());
  QAbstractButton::enterEvent(event);
}

void CAnimateButton::leaveEvent(QEvent* event) {
  hover_ = false;
  FadeTo(RestingFrame());
  QAbstractButton::leaveEvent(event);
}

void CAnimateButton::mousePressEvent(QMouseEvent* event) {
  QAbstractButton::mousePressEvent(event);
  FadeTo(RestingFrame());
}

void CAnimateButton::mouseReleaseEvent(QMouseEvent* event) {
  QAbstractButton::mouseReleaseEvent(event);
  FadeTo(RestingFrame());
}

void CAnimateButton::resizeEvent(QResizeEvent* event) {
  QAbstractButton::resizeEvent(event);
  if (size() != frameSize_) resize(frameSize_);
}

}  // namespace quorvel
