#include "ui/img_dlg_reports.h"

#include <QMetaObject>
#include <QObject>
#include <algorithm>

namespace quorvel {

CImgDlgReports::CImgDlgReports(QObject* window, std::function<void(const ImagingReport&)> deliver)
    : window_(window), deliver_(std::move(deliver)) {}

void CImgDlgReports::BadSector(uint64_t sector) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.newBadSectors.push_back(sector);
  }
  Post();
}

void CImgDlgReports::Status(const RescueStatus& status) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.status = status;
    state_.haveStatus = true;
  }
  Post();
}

void CImgDlgReports::Range(uint64_t upper, uint64_t step) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.barUpper = upper;
    state_.barPosition = 0;
    step_ = step;
  }
  Post();
}

void CImgDlgReports::Step() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.barPosition = std::min(state_.barUpper, state_.barPosition + step_);
  }
  Post();
}

void CImgDlgReports::Pos(uint64_t position) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.barPosition = std::min(state_.barUpper, position);
  }
  Post();
}

void CImgDlgReports::Post() {
  if (pending_.exchange(true)) return;  // one delivery already queued
  QObject* window = window_.data();
  if (!window) {
    pending_ = false;
    return;
  }
  QMetaObject::invokeMethod(
      window, [this] { Deliver(); }, Qt::QueuedConnection);
}

void CImgDlgReports::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = ImagingReport();
  step_ = 1;
}

void CImgDlgReports::Deliver() {
  pending_ = false;
  ImagingReport report;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    report = state_;
    state_.newBadSectors.clear();
  }
  if (deliver_) deliver_(report);
}

}  // namespace quorvel
