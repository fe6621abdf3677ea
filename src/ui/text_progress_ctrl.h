#pragma once
// A progress bar that draws its own percentage text; the part of the text over
// the filled bar is drawn in the inverse colours.
#include <QColor>
#include <QString>
#include <QWidget>
#include <cstdint>

namespace quorvel {

class CTextProgressCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CTextProgressCtrl(QWidget* parent = nullptr);

  void SetRange(int64_t lower, int64_t upper);
  void SetStep(int64_t step) { step_ = step; }
  // Position plus step, clamped to the upper bound. Returns the previous position.
  int64_t StepIt();
  // Clamped to [lower, upper]. Returns the previous position.
  int64_t SetPos(int64_t position);
  int64_t GetPos() const { return position_; }
  int64_t GetLower() const { return lower_; }
  int64_t GetUpper() const { return upper_; }
  int64_t GetStep() const { return step_; }

  void SetWindowText(const QString& text);  // own text, drawn instead of the percentage
  void SetShowText(bool show);
  void SetFinished(bool finished);
  void SetBarColour(const QColor& colour) {
    barColour_ = colour;
    update();
  }
  void SetBgColour(const QColor& colour) {
    bgColour_ = colour;
    update();
  }
  void SetTextColours(const QColor& onBar, const QColor& onBackground);

  // The text the next paint draws ("" when nothing is drawn).
  QString DisplayText() const;
  // Pixels of the filled part for the current size.
  int FilledWidth() const;
  // Counts real repaints, so callers can see that unchanged widths cost nothing.
  int RedrawRequests() const { return redrawRequests_; }

  QSize sizeHint() const override { return QSize(300, 22); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  int Percent() const;
  void RedrawIfChanged();

  int64_t position_ = 0, step_ = 1, upper_ = 100, lower_ = 0;
  QString ownText_;
  bool showText_ = true;
  bool finished_ = false;
  QColor barColour_, bgColour_, textOnBar_, textOnBg_;
  int lastWidth_ = -1;
  int lastPercent_ = -1;
  int redrawRequests_ = 0;
};

}  // namespace quorvel
