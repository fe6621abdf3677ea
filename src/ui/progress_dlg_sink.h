#pragma once
// Carries a worker's progress reports to a CProgressDlg on the GUI thread.
// Range and Close are "sent": the worker waits until the dialog handled them.
// Step, Pos and Text are "posted": the newest state is queued once, so a worker
// reporting per record never floods the event queue.
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/progress_sink.h"

namespace quorvel {

class CProgressDlg;

class CProgressDlgSink : public ProgressSink {
 public:
  explicit CProgressDlgSink(CProgressDlg* dialog);
  ~CProgressDlgSink() override;

  void Range(uint64_t upper, uint64_t step) override;
  void Step() override;
  void Pos(uint64_t position) override;
  void Text(const std::string& text) override;
  void Close() override;

 private:
  void Post();
  void Deliver();

  QPointer<CProgressDlg> dialog_;
  std::mutex mutex_;
  uint64_t upper_ = 100, step_ = 1, position_ = 0;
  std::string text_;
  bool textChanged_ = false;
  std::atomic<bool> pending_{false};
};

}  // namespace quorvel
