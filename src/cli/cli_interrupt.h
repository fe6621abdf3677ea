#pragma once
// Ctrl-C on the command line: the first one asks the running operation to stop
// at its next check point (what was found is still printed, exit status 3); a
// second one ends the process at once.
#include "core/scan_progress.h"

namespace quorvel::cli {

// Installed at start-up, so a Ctrl-C before a run begins is not lost: the run
// that follows stops at once and still prints what it has.
void InstallStopOnInterrupt();

// Says on stderr that the command was stopped and what that means for its
// output ("showing what was found so far"); only the first call of the
// process says anything, however many steps of the command were stopped.
void SayStopped(const char* consequence);
// What a stop during the reading steps means for this command, when it is
// not that what was found is shown (a save reads the partition first).
void SetStopConsequence(const char* consequence);
// SayStopped with that consequence (default: "showing what was found so far").
void SayStopped();

class InterruptStopsProgress {
 public:
  // Installs the SIGINT handler for the lifetime of this object.
  explicit InterruptStopsProgress(ScanProgress& progress);
  ~InterruptStopsProgress();
  InterruptStopsProgress(const InterruptStopsProgress&) = delete;
  InterruptStopsProgress& operator=(const InterruptStopsProgress&) = delete;

  // True once Ctrl-C was pressed while installed.
  bool Interrupted() const;
};

}  // namespace quorvel::cli
