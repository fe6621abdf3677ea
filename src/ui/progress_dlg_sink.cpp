#include "ui/progress_dlg_sink.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>

#include "ui/gui_call.h"
#include "ui/progress_dlg.h"

namespace quorvel {

CProgressDlgSink::CProgressDlgSink(CProgressDlg* dialog) : dialog_(dialog) {}
CProgressDlgSink::~CProgressDlgSink() = default;

void CProgressDlgSink::Range(uint64_t upper, uint64_t step) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    upper_ = upper;
    step_ = step;
    position_ = 0;
  }
  CProgressDlg* dialog = dialog_.data();
  SendToWindow(dialog, [dialog, upper, step] { dialog->OnProgressRange(upper, step); });
}

void CProgressDlgSink::Step() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    position_ = std::min(upper_, position_ + step_);
  }
  Post();
}

void CProgressDlgSink::Pos(uint64_t position) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    position_ = std::min(upper_, position);
  }
  Post();
}

void CProgressDlgSink::Text(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (text_ == text) return;
    text_ = text;
    textChanged_ = true;
  }
  Post();
}

void CProgressDlgSink::Close() {
  CProgressDlg* dialog = dialog_.data();
  SendToWindow(dialog, [this, dialog] {
    Deliver();  // the last posted state first
    dialog->OnWorkerClose();
  });
}

void CProgressDlgSink::Post() {
  if (pending_.exchange(true)) return;  // one delivery already queued
  CProgressDlg* dialog = dialog_.data();
  if (!dialog) {
    pending_ = false;
    return;
  }
  if (QThread::currentThread() == dialog->thread()) {
    Deliver();
    return;
  }
  QMetaObject::invokeMethod(
      dialog, [this] { Deliver(); }, Qt::QueuedConnection);
}

void CProgressDlgSink::Deliver() {
  pending_ = false;
  CProgressDlg* dialog = dialog_.data();
  if (!dialog) return;
  uint64_t position;
  std::string text;
  bool textChanged;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    position = position_;
    text = text_;
    textChanged = textChanged_;
    textChanged_ = false;
  }
  dialog->OnProgressPos(position);
  if (textChanged) dialog->OnProgressText(QString::fromStdString(text));
}

}  // namespace quorvel
