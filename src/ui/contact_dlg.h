#pragma once
// Where users get help: the support channels of the project.
#include <QDialog>

namespace quorvel {

class CContactDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CContactDlg(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quorvel
