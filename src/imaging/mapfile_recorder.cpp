#include "imaging/mapfile_recorder.h"

namespace quorvel {

MapfileRecorder::MapfileRecorder(std::string path, Mapfile map, std::vector<std::string> heading, ImageWriter& target,
                                 CopyObserver* next, std::chrono::milliseconds interval)
    : path_(std::move(path)),
      map_(std::move(map)),
      heading_(std::move(heading)),
      target_(target),
      next_(next),
      interval_(interval),
      lastSave_(std::chrono::steady_clock::now()) {}

void MapfileRecorder::Copied(uint64_t position, uint64_t length) {
  map_.Mark(position, length, MapStatus::kFinished);
  map_.currentPosition = position + length;
  if (next_) next_->Copied(position, length);
  SaveWhenDue();
}

void MapfileRecorder::BadSector(uint64_t sector) {
  map_.Mark(sector * kImagingSectorBytes, kImagingSectorBytes, MapStatus::kBadSector);
  map_.currentPosition = (sector + 1) * kImagingSectorBytes;
  if (next_) next_->BadSector(sector);
  SaveWhenDue();
}

void MapfileRecorder::SectorsDone(uint64_t sectors) {
  if (next_) next_->SectorsDone(sectors);
}

void MapfileRecorder::SaveWhenDue() {
  if (std::chrono::steady_clock::now() - lastSave_ < interval_) return;
  Save(false);
}

bool MapfileRecorder::Save(bool finished) {
  lastSave_ = std::chrono::steady_clock::now();
  if (!target_.Flush()) {
    error_ = "the target could not be flushed: " + target_.LastError();
    return false;
  }
  map_.currentStatus = finished ? MapStatus::kFinished : MapStatus::kNonTried;
  std::string why;
  if (!WriteMapfile(path_, map_, heading_, why)) {
    error_ = why;
    return false;
  }
  error_.clear();
  return true;
}

}  // namespace quorvel
