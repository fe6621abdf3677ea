#pragma once
// Carries a running copy's reports from the imaging thread to the dialog.
// The window owns one for its whole life, so a queued delivery never outlives
// it. The thread never waits for the window: the newest state (bar, rescue
// status) and the bad sectors found since the last delivery are queued once
// and handed over together on the GUI thread.
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "core/progress_sink.h"
#include "imaging/image_copy.h"

class QObject;

namespace quorvel {

struct ImagingReport {
  uint64_t barUpper = 0;
  uint64_t barPosition = 0;
  bool haveStatus = false;
  RescueStatus status;
  std::vector<uint64_t> newBadSectors;
};

class CImgDlgReports : public CopyObserver, public ProgressSink {
 public:
  // deliver runs on window's thread.
  CImgDlgReports(QObject* window, std::function<void(const ImagingReport&)> deliver);

  // CopyObserver
  void BadSector(uint64_t sector) override;
  void Status(const RescueStatus& status) override;
  // ProgressSink (the bar counts blocks)
  void Range(uint64_t upper, uint64_t step) override;
  void Step() override;
  void Pos(uint64_t position) override;
  void Text(const std::string&) override {}
  void Close() override {}

  // Hands over what is pending now (on the window's thread).
  void Deliver();
  // Forgets the last run's state before a new one starts.
  void Reset();

 private:
  void Post();

  QPointer<QObject> window_;
  std::function<void(const ImagingReport&)> deliver_;
  std::mutex mutex_;
  ImagingReport state_;
  uint64_t step_ = 1;
  std::atomic<bool> pending_{false};
};

}  // namespace quorvel
