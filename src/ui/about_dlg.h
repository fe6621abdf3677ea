#pragma once
// The About box: product name, version and the project's contact line.
#include <QDialog>

namespace quorvel {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quorvel
