#pragma once
// One application-wide flag: a worker is running. Commands refuse to start
// another worker while it is set.
#include <atomic>

namespace quorvel {

std::atomic<bool>& OperationBusy();

// Sets the flag for its lifetime, so every exit path of a worker clears it.
class OperationBusyGuard {
 public:
  OperationBusyGuard() { OperationBusy().store(true); }
  ~OperationBusyGuard() { OperationBusy().store(false); }
  OperationBusyGuard(const OperationBusyGuard&) = delete;
  OperationBusyGuard& operator=(const OperationBusyGuard&) = delete;
};

// Claims the flag if it is free; false when another worker holds it.
bool TryClaimOperation();

}  // namespace quorvel
