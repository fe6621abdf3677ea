#include "ui/worker_thread.h"

#include <algorithm>

namespace quorvel {

WorkerThread::WorkerThread(std::function<void()> body)
    : thread_([this, body = std::move(body)] {
        body();
        done_.store(true);
      }) {}

WorkerThread::~WorkerThread() {
  if (thread_.joinable()) thread_.join();
}

void WorkerPool::Start(std::function<void()> body) {
  Reap();
  threads_.push_back(std::make_unique<WorkerThread>(std::move(body)));
}

void WorkerPool::Reap() {
  threads_.erase(std::remove_if(threads_.begin(), threads_.end(), [](const auto& t) { return t->Done(); }),
                 threads_.end());
}

bool WorkerPool::Idle() const {
  return std::all_of(threads_.begin(), threads_.end(), [](const auto& t) { return t->Done(); });
}

}  // namespace quorvel
