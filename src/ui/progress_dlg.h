#pragma once
// The small modeless dialog behind every long operation: caption text, the
// bar, the worker's own progress text and "停止". It owns the ScanProgress
// block the worker reports through.
#include <QDialog>
#include <QString>
#include <memory>

#include "core/scan_progress.h"

class QLabel;

namespace quorvel {

class CTextProgressCtrl;
class CXPButton;
class CProgressDlgSink;

class CProgressDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CProgressDlg(QWidget* parent = nullptr);
  ~CProgressDlg() override;

  // The block shared with the worker; its sink delivers to this dialog.
  ScanProgress& Progress() { return *progress_; }

  // The page's caption text, shown above the bar ("正在保存文件，请稍等...").
  void SetCaptionText(const QString& text);
  QString CaptionText() const;
  // Start-up for one operation: clear the stop flag, caption, bar at 0, title, show.
  void StartOperation(const QString& title, const QString& caption);

  // The worker's side (delivered on the GUI thread by the sink).
  void OnProgressRange(uint64_t upper, uint64_t step);
  void OnProgressStep();
  void OnProgressPos(uint64_t position);
  void OnProgressText(const QString& text);
  void OnWorkerClose();

  CTextProgressCtrl* Bar() const { return bar_; }
  CXPButton* StopButton() const { return stop_; }
  QString ProgressTextShown() const;

 signals:
  void WorkerClosed();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void reject() override;  // Escape asks the worker to stop; the worker closes us

 private:
  std::unique_ptr<ScanProgress> progress_;
  std::unique_ptr<CProgressDlgSink> sink_;
  QLabel* caption_ = nullptr;
  QLabel* detail_ = nullptr;
  CTextProgressCtrl* bar_ = nullptr;
  CXPButton* stop_ = nullptr;
};

}  // namespace quorvel
