#pragma once
// The worker thread of one long operation, as the faces start it: it holds
// OperationBusy (claimed by its launcher) for its whole run, keeps what the
// run returns, and at its end clears the flag and closes the progress sink,
// on every path.
#include <atomic>
#include <exception>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "core/operation_busy.h"
#include "core/scan_progress.h"

namespace quorvel {

template <typename Result>
class OperationRun {
 public:
  OperationRun() = default;
  // Waits for the worker.
  ~OperationRun() { Join(); }
  OperationRun(const OperationRun&) = delete;
  OperationRun& operator=(const OperationRun&) = delete;

  bool Finished() const { return finished_.load(); }
  // Waits for the worker's end (OperationBusy is clear by then).
  const Result& Wait() {
    Join();
    return result_;
  }

  // Runs work on a new thread; the caller holds OperationBusy. An exception
  // out of work (out of memory, most likely) goes to failed with the result
  // to fill in. False, with OperationBusy released and refusal set, when no
  // thread can be had.
  bool Start(ScanProgress& progress, std::function<Result()> work,
             std::function<void(Result&, const std::exception&)> failed, std::string& refusal) {
    try {
      thread_ = std::thread([this, &progress, work = std::move(work), failed = std::move(failed)] {
        Result result;
        try {
          result = work();
        } catch (const std::exception& e) {
          failed(result, e);
        }
        result_ = std::move(result);
        OperationBusy().store(false);
        progress.Close();
        finished_.store(true);
      });
    } catch (const std::system_error& e) {
      OperationBusy().store(false);
      refusal = std::string("无法启动工作线程: ") + e.what();
      return false;
    }
    return true;
  }

 private:
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::thread thread_;
  std::atomic<bool> finished_{false};
  Result result_;
};

}  // namespace quorvel
