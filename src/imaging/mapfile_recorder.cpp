#include "imaging/mapfile_recorder.h"

namespace quorvel {

MapfileRecorder::MapfileRecorder(std::string path, std::vector<std::string> heading, ImageWriter& target,
                                 std::chrono::milliseconds interval)
    : path_(std::move(path)),
      heading_(std::move(heading)),
      target_(target),
      interval_(interval),
      lastSave_(std::chrono::steady_clock::now()) {}

bool MapfileRecorder::Save(const Mapfile& map) {
  lastSave_ = std::chrono::steady_clock::now();
  if (!target_.Flush()) {
    error_ = "the target could not be flushed: " + target_.LastError();
    return false;
  }
  std::string why;
  if (!WriteMapfile(path_, map, heading_, why)) {
    error_ = why;
    return false;
  }
  error_.clear();
  return true;
}

}  // namespace quorvel
