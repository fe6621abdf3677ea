#include "cli/cli_interrupt.h"

#include <atomic>
#include <csignal>

namespace quorvel::cli {

namespace {

// Only lock-free atomics are touched from the handler.
std::atomic<std::atomic<int>*> g_stopFlag{nullptr};
volatile std::sig_atomic_t g_interrupted = 0;
struct sigaction g_previous {};

void OnInterrupt(int) {
  g_interrupted = 1;
  if (std::atomic<int>* flag = g_stopFlag.load()) flag->store(1);
}

}  // namespace

void InstallStopOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: a second Ctrl-C gets the default action and ends the process.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, &g_previous);
}

InterruptStopsProgress::InterruptStopsProgress(ScanProgress& progress) {
  static_assert(std::atomic<int>::is_always_lock_free);
  g_stopFlag.store(&progress.stopFlag);
  // A Ctrl-C that came while the source was still being opened stops this run
  // at its first check point; the handler has then already reset itself.
  if (g_interrupted) {
    progress.stopFlag.store(1);
    return;
  }
  InstallStopOnInterrupt();
}

InterruptStopsProgress::~InterruptStopsProgress() {
  sigaction(SIGINT, &g_previous, nullptr);
  g_stopFlag.store(nullptr);
}

bool InterruptStopsProgress::Interrupted() const { return g_interrupted != 0; }

}  // namespace quorvel::cli
