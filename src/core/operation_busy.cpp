#include "core/operation_busy.h"

namespace quorvel {

std::atomic<bool>& OperationBusy() {
  static std::atomic<bool> busy{false};
  return busy;
}

bool TryClaimOperation() {
  bool expected = false;
  return OperationBusy().compare_exchange_strong(expected, true);
}

}  // namespace quorvel
