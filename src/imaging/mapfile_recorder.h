#pragma once
// Keeps a rescue's mapfile on disk: saved every few seconds while the copy
// runs and at its end, each time after the target was flushed, so the
// mapfile never calls done what is not yet on the target's medium.
#include <chrono>
#include <string>
#include <vector>

#include "imaging/image_writer.h"
#include "imaging/mapfile.h"

namespace quorvel {

class MapfileRecorder {
 public:
  MapfileRecorder(std::string path, std::vector<std::string> heading, ImageWriter& target,
                  std::chrono::milliseconds interval = std::chrono::seconds(5));

  // The interval has passed since the last save.
  bool Due() const { return std::chrono::steady_clock::now() - lastSave_ >= interval_; }
  // Flushes the target and writes map. False (error set) when the target
  // could not be flushed (the last mapfile written stays) or the mapfile
  // could not be written.
  bool Save(const Mapfile& map);
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::vector<std::string> heading_;
  ImageWriter& target_;
  std::chrono::milliseconds interval_;
  std::chrono::steady_clock::time_point lastSave_;
  std::string error_;
};

}  // namespace quorvel
