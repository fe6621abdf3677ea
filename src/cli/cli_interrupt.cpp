#include "cli/cli_interrupt.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace quorvel::cli {

namespace {

// Only lock-free atomics are touched from the handler.
std::atomic<std::atomic<int>*> g_stopFlag{nullptr};
volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
  g_interrupted = 1;
  if (std::atomic<int>* flag = g_stopFlag.load()) flag->store(1);
}

// SA_RESETHAND: a second Ctrl-C gets the default action and ends the process.
void Install(int flags) {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = static_cast<int>(SA_RESETHAND) | flags;  // 0x80000000: unsigned in glibc
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

void InstallStopOnInterrupt() {
  // No SA_RESTART while sources are opened and read: a call blocked in the
  // kernel returns EINTR, so the stop reaches the caller instead of being
  // swallowed by a restarted call.
  if (!g_interrupted) Install(0);
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
  Install(0);
}

InterruptStopsProgress::~InterruptStopsProgress() {
  g_stopFlag.store(nullptr);
  // What follows is printing the results: a first Ctrl-C there must not cut
  // a write short (the call restarts); after one Ctrl-C the next one ends
  // the process, as the reset handler already ensures.
  if (!g_interrupted) Install(SA_RESTART);
}

bool InterruptStopsProgress::Interrupted() const { return g_interrupted != 0; }

namespace {
bool g_saidStopped = false;
const char* g_stopConsequence = "showing what was found so far";
}  // namespace

void SayStopped(const char* consequence) {
  if (g_saidStopped) return;
  g_saidStopped = true;
  std::fprintf(stderr, "quorvel: stopped; %s\n", consequence);
}

void SetStopConsequence(const char* consequence) { g_stopConsequence = consequence; }

void SayStopped() { SayStopped(g_stopConsequence); }

}  // namespace quorvel::cli
