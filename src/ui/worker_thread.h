#pragma once
// A thread created for one long operation. The GUI thread never waits for one
// that is still running: a worker may itself be waiting for the GUI thread in a
// sent progress message. Finished threads are joined when they are reaped.
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace quorvel {

class WorkerThread {
 public:
  explicit WorkerThread(std::function<void()> body);
  ~WorkerThread();  // joins; only destroy a Done() thread from the GUI thread
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  bool Done() const { return done_.load(); }

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Keeps a page's workers until they are done.
class WorkerPool {
 public:
  void Start(std::function<void()> body);
  // Joins and drops the threads that are done.
  void Reap();
  bool Idle() const;

 private:
  std::vector<std::unique_ptr<WorkerThread>> threads_;
};

}  // namespace quorvel
