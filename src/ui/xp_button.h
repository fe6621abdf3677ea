#pragma once
// The push button of the pages and dialogs: a rounded gradient face with
// hover and pressed states, drawn in code.
#include <QPushButton>

namespace quorvel {

class CXPButton : public QPushButton {
  Q_OBJECT

 public:
  explicit CXPButton(const QString& text, QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  bool hover_ = false;
};

}  // namespace quorvel
