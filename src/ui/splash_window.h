#pragma once
// The picture shown while the disks are enumerated at start-up.
#include <QPixmap>
#include <QWidget>

namespace quorvel {

class CSplashWindow : public QWidget {
  Q_OBJECT

 public:
  explicit CSplashWindow(QWidget* parent = nullptr);
  // Shows the window centred and paints it at once (the GUI thread is about
  // to be busy).
  void ShowNow();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap picture_;
};

}  // namespace quorvel
