#pragma once
// Resuming an imaging run from its mapfile, for the dialog and the command
// line alike: the checks that keep writing the mapfile away from the source
// and the image, reading it when it exists, and whether the image still
// holds what the mapfile calls done.
#include <string>

#include "imaging/imaging_job.h"
#include "imaging/mapfile.h"

namespace quorvel {

struct MapfileLoad {
  enum class Problem {
    kNone,
    kOnSource,     // writing the mapfile would reach the source
    kIsTarget,     // the mapfile is the image file itself
    kUnreadable,   // it exists but is not a mapfile (detail says why)
    kTargetLacks,  // the image does not hold what the mapfile calls done
  };
  Problem problem = Problem::kNone;
  bool resume = false;  // the mapfile exists and was read
  std::string detail;

  explicit operator bool() const { return problem == Problem::kNone; }
};

// Prepares the mapfile at path for plan: refused when writing it could
// touch the source or the image; read into map when it exists (the run then
// resumes), in which case the image must still hold what it calls done.
MapfileLoad LoadMapfile(const std::string& path, const ImagingPlan& plan, Mapfile& map);

// A resumed image file must still hold what the mapfile calls done (a disk
// target always holds its whole range).
bool TargetHoldsFinished(const ImagingPlan& plan, const Mapfile& map);

}  // namespace quorvel
