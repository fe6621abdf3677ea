#pragma once
// The main window's skinned buttons: three frames (normal, hover, pressed)
// drawn in code; on hover and leave the next frame fades in over the current
// one, 30 alpha steps every 10 ms. The button's shape follows its frame.
#include <QAbstractButton>
#include <QPixmap>
#include <QTimer>

namespace quorvel {

class CAnimateButton : public QAbstractButton {
  Q_OBJECT

 public:
  enum Kind { kFunction, kMinimise, kMaximise, kClose };
  // function: 0..5 for the function buttons (glyph and text), else ignored.
  CAnimateButton(Kind kind, int function, const QString& text, QWidget* parent = nullptr);

  QSize sizeHint() const override { return frameSize_; }
  // The frame shown (0 normal, 1 hover, 2 pressed) and the fade's alpha.
  int TargetFrame() const { return target_; }
  int FadeAlpha() const { return alpha_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildFrames();
  void FadeTo(int frame);
  int RestingFrame() const;

  Kind kind_;
  int function_;
  QSize frameSize_;
  QPixmap frames_[3];
  QPixmap shown_;  // what was on screen when the fade began
  int target_ = 0;
  int alpha_ = 255;
  bool hover_ = false;
  QTimer timer_;
};

}  // namespace quorvel
