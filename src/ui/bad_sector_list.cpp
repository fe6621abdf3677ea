#include "ui/bad_sector_list.h"

#include <algorithm>
#include <climits>

#include "imaging/imaging_texts.h"

namespace quorvel {

namespace {
const char* const kCountColumn = "坏扇区数目";
const char* const kSectorColumn = "坏扇区扇区号";
// Rows a view can address; sectors beyond stay counted.
constexpr uint64_t kMaxRows = INT_MAX;
}  // namespace

BadSectorList::BadSectorList(QObject* parent) : QAbstractTableModel(parent) {}

void BadSectorList::Append(const std::vector<uint64_t>& found) {
  std::vector<uint64_t> sectors;
  sectors.reserve(found.size());
  // A sector number of all one bits stands for no sector.
  for (uint64_t sector : found)
    if (sector != UINT64_MAX) sectors.push_back(sector);
  if (sectors.empty()) return;
  std::sort(sectors.begin(), sectors.end());
  sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
  const bool pastTheEnd = runs_.empty() || sectors.front() >= runs_.back().firstSector + runs_.back().count;
  if (!pastTheEnd) return Insert(sectors);
  uint64_t shownBefore = std::min(count_, kMaxRows);
  for (uint64_t sector : sectors) {
    if (!runs_.empty() && runs_.back().firstSector + runs_.back().count == sector)
      ++runs_.back().count;
    else
      runs_.push_back({count_, sector, 1});
    ++count_;
  }
  uint64_t shownAfter = std::min(count_, kMaxRows);
  if (shownAfter == shownBefore) return;
  beginInsertRows(QModelIndex(), static_cast<int>(shownBefore), static_cast<int>(shownAfter - 1));
  endInsertRows();
}

// Sectors found before ones already listed (trimming works from both edges
// of an area): the runs are merged anew, so the rows stay in sector order.
void BadSectorList::Insert(const std::vector<uint64_t>& sectors) {
  std::vector<Run> merged;
  auto add = [&](uint64_t first, uint64_t count) {
    if (!merged.empty()) {
      Run& last = merged.back();
      if (first < last.firstSector + last.count) {  // already listed
        uint64_t end = std::max(last.firstSector + last.count, first + count);
        last.count = end - last.firstSector;
        return;
      }
      if (first == last.firstSector + last.count) {
        last.count += count;
        return;
      }
    }
    merged.push_back({0, first, count});
  };
  size_t next = 0;
  for (const Run& run : runs_) {
    for (; next < sectors.size() && sectors[next] < run.firstSector; ++next) add(sectors[next], 1);
    add(run.firstSector, run.count);
  }
  for (; next < sectors.size(); ++next) add(sectors[next], 1);
  beginResetModel();
  runs_ = std::move(merged);
  count_ = 0;
  for (Run& run : runs_) {
    run.firstRow = count_;
    count_ += run.count;
  }
  endResetModel();
}

void BadSectorList::Clear() {
  beginResetModel();
  runs_.clear();
  count_ = 0;
  endResetModel();
}

uint64_t BadSectorList::SectorAt(uint64_t row) const {
  auto it =
      std::upper_bound(runs_.begin(), runs_.end(), row, [](uint64_t r, const Run& run) { return r < run.firstRow; });
  if (it == runs_.begin()) return UINT64_MAX;
  --it;
  return row - it->firstRow < it->count ? it->firstSector + (row - it->firstRow) : UINT64_MAX;
}

int BadSectorList::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(std::min(count_, kMaxRows));
}

int BadSectorList::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant BadSectorList::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return QVariant();
  uint64_t row = static_cast<uint64_t>(index.row());
  if (index.column() == 0)
    return QString::fromUtf8(kImagingBadRow).replace(QStringLiteral("%d"), QString::number(row + 1));
  return QString::number(SectorAt(row));
}

QVariant BadSectorList::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  return QString::fromUtf8(section == 0 ? kCountColumn : kSectorColumn);
}

}  // namespace quorvel
