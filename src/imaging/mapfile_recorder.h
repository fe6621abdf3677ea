#pragma once
// Keeps a mapfile up to date while a copy runs: every copied stretch becomes
// '+', every unreadable sector '-'. The file is rewritten every few seconds
// and at the end, each time after the target was flushed, so the mapfile
// never calls done what is not yet on the target's medium.
#include <chrono>
#include <string>
#include <vector>

#include "imaging/image_copy.h"
#include "imaging/mapfile.h"

namespace quorvel {

class MapfileRecorder : public CopyObserver {
 public:
  // next (may be null) receives every report as well.
  MapfileRecorder(std::string path, Mapfile map, std::vector<std::string> heading, ImageWriter& target,
                  CopyObserver* next = nullptr, std::chrono::milliseconds interval = std::chrono::seconds(5));

  void Copied(uint64_t position, uint64_t length) override;
  void BadSector(uint64_t sector) override;
  void SectorsDone(uint64_t sectors) override;

  // Flushes the target and writes the mapfile; finished sets the status line
  // to '+'. False (error set) when the target could not be flushed (the last
  // mapfile written stays) or the mapfile could not be written.
  bool Save(bool finished);
  const std::string& error() const { return error_; }
  const Mapfile& map() const { return map_; }

 private:
  void SaveWhenDue();

  std::string path_;
  Mapfile map_;
  std::vector<std::string> heading_;
  ImageWriter& target_;
  CopyObserver* next_;
  std::chrono::milliseconds interval_;
  std::chrono::steady_clock::time_point lastSave_;
  std::string error_;
};

}  // namespace quorvel
