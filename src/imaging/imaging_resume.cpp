#include "imaging/imaging_resume.h"

#include <sys/stat.h>

#include <filesystem>

namespace quorvel {

namespace {

MapfileLoad Problem(MapfileLoad::Problem problem, std::string detail) {
  MapfileLoad load;
  load.problem = problem;
  load.detail = std::move(detail);
  return load;
}

}  // namespace

MapfileLoad LoadMapfile(const std::string& path, const ImagingPlan& plan, Mapfile& map) {
  StorageFootprint mapFootprint = FootprintOfPath(path);
  if (WriteReachesSource(mapFootprint, plan.sourceFootprint))
    return Problem(MapfileLoad::Problem::kOnSource, "the mapfile " + path + " lies on the source");
  // The same file, whether it exists yet or not.
  StorageFootprint targetFootprint = FootprintOfPath(plan.targetPath);
  std::error_code ignored;
  bool same =
      std::filesystem::weakly_canonical(path, ignored) == std::filesystem::weakly_canonical(plan.targetPath, ignored);
  for (const auto& file : mapFootprint.files) same = same || targetFootprint.files.count(file);
  if (same) return Problem(MapfileLoad::Problem::kIsTarget, "the mapfile " + path + " is the target");
  map = Mapfile();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return MapfileLoad();
  std::string error;
  if (!ReadMapfile(path, map, error)) return Problem(MapfileLoad::Problem::kUnreadable, error);
  if (!TargetHoldsFinished(plan, map))
    return Problem(MapfileLoad::Problem::kTargetLacks,
                   "the mapfile " + path + " marks sectors as copied that " + plan.targetPath + " does not hold");
  MapfileLoad load;
  load.resume = true;
  return load;
}

bool TargetHoldsFinished(const ImagingPlan& plan, const Mapfile& map) {
  uint64_t lastEnd = 0;
  if (!map.FinishedBytes(plan.sourcePosition, plan.length, &lastEnd)) return true;
  if (plan.openMode == TargetOpenMode::kExistingDisk) return true;
  struct stat st {};
  uint64_t needed = plan.targetPosition + (lastEnd - plan.sourcePosition);
  return ::stat(plan.targetPath.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) >= needed;
}

}  // namespace quorvel
