#pragma once
// The main window: borderless, with the six function buttons along the top,
// the function's texts in the left panel, and the disk page and file page in
// one page area.
#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QString>

#include "model/disk_records.h"

class QLabel;

namespace quorvel {

class CAnimateButton;
class CHdDlg;
class CFileDlg;

class CQuorvelDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kFunctionCount = 6;
  static constexpr int kCaptionBand = 200;  // the top band drags the window

  explicit CQuorvelDlg(DiskList& disks, QWidget* parent = nullptr);
  ~CQuorvelDlg() override;

  // The six function buttons, 0 ("文件删除恢复") to 5 ("打开扫描信息").
  void ChooseFunction(int function);
  int Function() const { return function_; }
  // Empties the file lists of the partition the file page showed last.
  void DiscardLastFileLists();
  // True where a press starts dragging the window (the top 200 pixels).
  bool IsCaptionPoint(const QPoint& clientPoint) const;
  void ToggleMaximise();

  CHdDlg* DiskPage() const { return diskPage_; }
  CFileDlg* FilePage() const { return filePage_; }
  CAnimateButton* FunctionButton(int function) const { return functionButtons_[function]; }
  CAnimateButton* MinimiseButton() const { return minimise_; }
  CAnimateButton* MaximiseButton() const { return maximise_; }
  CAnimateButton* CloseButton() const { return close_; }
  QRect PageRect() const { return pageRect_; }
  QString PanelTitle() const;
  QString PanelDescription() const;
  QString PanelHint() const;
  QString ShownDisk() const { return shownDisk_; }
  QString ShownPartition() const { return shownPartition_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void LayoutWindow();
  void ShowFilePage();
  void ShowDiskPage();

  DiskList& disks_;
  CHdDlg* diskPage_ = nullptr;
  CFileDlg* filePage_ = nullptr;
  CAnimateButton* functionButtons_[kFunctionCount] = {};
  CAnimateButton* minimise_ = nullptr;
  CAnimateButton* maximise_ = nullptr;
  CAnimateButton* close_ = nullptr;
  QLabel* title_ = nullptr;
  QLabel* description_ = nullptr;
  QLabel* hintHeading_ = nullptr;
  QLabel* hint_ = nullptr;
  QList<QLabel*> links_;
  QRect pageRect_;
  int function_ = 0;
  QString shownDisk_, shownPartition_;
  QString selectedDisk_, selectedPartition_;
  bool dragging_ = false;
  QPoint dragOffset_;
};

}  // namespace quorvel
