#include "model/file_tree.h"

#include <ctime>
#include <type_traits>
#include <unordered_map>

namespace quorvel {

const char* EntryStateText(uint8_t state) {
  switch (state) {
    case kDeletedFolder:
      return "已删除文件夹";
    case kDeletedFile:
      return "已删除文件";
    case kFolder:
      return "正常文件夹";
    case kFile:
      return "正常文件";
    default:
      return "";
  }
}

namespace {

using PointerMap = std::unordered_map<const void*, void*>;

// An entry's own fields, without its children.
FatFileEntry CopyFields(const FatFileEntry& from) {
  FatFileEntry to;
  to.flags = from.flags;
  to.unreadable = from.unreadable;
  to.creationTime = from.creationTime;
  to.creationDate = from.creationDate;
  to.writeTime = from.writeTime;
  to.writeDate = from.writeDate;
  to.accessDate = from.accessDate;
  to.size = from.size;
  to.firstCluster = from.firstCluster;
  to.name = from.name;
  return to;
}

NtfsFileEntry CopyFields(const NtfsFileEntry& from) {
  NtfsFileEntry to;
  to.flags = from.flags;
  to.unreadable = from.unreadable;
  to.sequence = from.sequence;
  to.recordNumber = from.recordNumber;
  to.parentNumber = from.parentNumber;
  to.size = from.size;
  to.creationTime = from.creationTime;
  to.modificationTime = from.modificationTime;
  to.accessTime = from.accessTime;
  to.mftChangeTime = from.mftChangeTime;
  to.name = from.name;
  return to;
}

// Copies from's fields into to and everything below from under to, folder
// by folder without recursion; records where each original entry now lives
// and aims the FAT parent pointers at the copies.
template <typename Entry>
void CopySubtree(const Entry& from, Entry& to, PointerMap& map) {
  to = CopyFields(from);
  map[&from] = &to;
  std::vector<std::pair<const Entry*, Entry*>> folders{{&from, &to}};
  while (!folders.empty()) {
    const auto [original, copy] = folders.back();
    folders.pop_back();
    for (const Entry& child : original->children) {
      Entry& added = copy->children.emplace_back(CopyFields(child));
      if constexpr (std::is_same_v<Entry, FatFileEntry>) added.parent = copy;
      map[&child] = &added;
      if (!child.children.empty()) folders.emplace_back(&child, &added);
    }
  }
}

template <typename T>
T* Remap(T* pointer, const PointerMap& map) {
  auto it = map.find(pointer);
  return it == map.end() ? nullptr : static_cast<T*>(it->second);
}

template <typename Index>
void RemapIndex(const Index& from, Index& to, const PointerMap& map) {
  for (const auto& [key, pointer] : from)
    if (auto* moved = Remap(pointer, map)) to.emplace(key, moved);
}

void RemapIndex(const RecordIndex& from, RecordIndex& to, const PointerMap& map) {
  from.ForEach([&](uint64_t number, NtfsFileEntry* entry) {
    if (NtfsFileEntry* moved = Remap(entry, map)) to.emplace(number, moved);
  });
}

std::unique_ptr<FileTree> CopyTree(const FileTree& from) {
  auto to = std::make_unique<FileTree>();
  PointerMap map;
  CopySubtree(from.fatRoot, to->fatRoot, map);
  CopySubtree(from.fatLost, to->fatLost, map);
  CopySubtree(from.ntfsRoot, to->ntfsRoot, map);
  CopySubtree(from.ntfsLost, to->ntfsLost, map);
  CopySubtree(from.ntfsExtension, to->ntfsExtension, map);
  RemapIndex(from.NormalEntryByCluster, to->NormalEntryByCluster, map);
  RemapIndex(from.DeletedEntryByCluster, to->DeletedEntryByCluster, map);
  RemapIndex(from.EntryByNumber, to->EntryByNumber, map);
  RemapIndex(from.PlaceholderByNumber, to->PlaceholderByNumber, map);
  to->skipSet = from.skipSet;
  return to;
}

}  // namespace

FileTree::~FileTree() { ClearFileTree(*this); }

FileTreeBox::FileTreeBox() : tree_(std::make_unique<FileTree>()) {}
FileTreeBox::FileTreeBox(const FileTreeBox& other) : tree_(CopyTree(*other.tree_)) {}
FileTreeBox& FileTreeBox::operator=(const FileTreeBox& other) {
  if (this != &other) tree_ = CopyTree(*other.tree_);
  return *this;
}

void ClearFileTree(FileTree& tree) {
  DestroyEntries(tree.fatRoot.children);
  DestroyEntries(tree.fatLost.children);
  DestroyEntries(tree.ntfsRoot.children);
  DestroyEntries(tree.ntfsLost.children);
  DestroyEntries(tree.ntfsExtension.children);
  tree.NormalEntryByCluster.clear();
  tree.DeletedEntryByCluster.clear();
  tree.EntryByNumber.clear();
  tree.PlaceholderByNumber.clear();
  tree.skipSet.clear();
}

FatFileEntry* AddFatChild(FatFileEntry& parent, FatFileEntry child, bool atFront) {
  auto it = parent.children.insert(atFront ? parent.children.begin() : parent.children.end(), std::move(child));
  it->parent = &parent;
  for (FatFileEntry& grandChild : it->children) grandChild.parent = &*it;
  return &*it;
}

NtfsFileEntry* AddNtfsChild(NtfsFileEntry& parent, NtfsFileEntry child, bool atFront) {
  auto it = parent.children.insert(atFront ? parent.children.begin() : parent.children.end(), std::move(child));
  return &*it;
}

namespace {

// "year-mm-dd hh:mm:ss"; the year has as many digits as it needs (a FILETIME
// reaches past 9999), every other field two.
TimeText ComposeTime(uint64_t year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second) {
  TimeText out;
  char digits[20];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + year % 10);
    year /= 10;
  } while (year != 0 && count < sizeof digits);
  char* p = out.text;
  while (count < 4) digits[count++] = '0';
  while (count > 0) *p++ = digits[--count];
  const auto two = [&p](unsigned value, char after) {
    *p++ = static_cast<char>('0' + value / 10 % 10);
    *p++ = static_cast<char>('0' + value % 10);
    if (after) *p++ = after;
  };
  *p++ = '-';
  two(month, '-');
  two(day, ' ');
  two(hour, ':');
  two(minute, ':');
  two(second, 0);
  out.size = static_cast<uint8_t>(p - out.text);
  return out;
}

}  // namespace

TimeText DosTimeText(uint16_t date, uint16_t time) {
  // Month 0 or day 0 is no date at all (a root folder, an entry that never
  // had one); a month past 12 cannot be either.
  const unsigned month = (date >> 5) & 15, day = date & 31;
  if (month == 0 || month > 12 || day == 0) return TimeText();
  // Hours up to 31, minutes up to 63 and seconds up to 62 are shown as stored.
  return ComposeTime((date >> 9) + 1980u, month, day, time >> 11, (time >> 5) & 63u, (time & 31u) * 2);
}

std::string FormatDosTime(uint16_t date, uint16_t time) { return std::string(DosTimeText(date, time).view()); }

namespace {
// Days since 1970-01-01 to a Gregorian date (Howard Hinnant's algorithm).
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  year = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) ++year;
}
}  // namespace

TimeText FileTimeText(uint64_t fileTime) {
  // FILETIME counts 100 ns from 1601-01-01; shown at UTC+8 always. Zero is
  // no time (special folders, placeholders).
  if (fileTime == 0) return TimeText();
  const int64_t kSecondsFrom1601To1970 = 11644473600LL;
  int64_t seconds = static_cast<int64_t>(fileTime / 10000000ULL) - kSecondsFrom1601To1970 + 8 * 3600;
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  int64_t inDay = seconds - days * 86400;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, year, month, day);
  return ComposeTime(static_cast<uint64_t>(year), month, day, static_cast<unsigned>(inDay / 3600),
                     static_cast<unsigned>(inDay / 60 % 60), static_cast<unsigned>(inDay % 60));
}

std::string FormatFileTime(uint64_t fileTime) { return std::string(FileTimeText(fileTime).view()); }

int64_t DosTimeToUnixSeconds(uint16_t date, uint16_t time) {
  if (date == 0) return 0;
  std::tm tm{};
  tm.tm_year = 80 + (date >> 9);
  tm.tm_mon = ((date >> 5) & 0x0F) - 1;
  tm.tm_mday = date & 0x1F;
  tm.tm_hour = time >> 11;
  tm.tm_min = (time >> 5) & 0x3F;
  tm.tm_sec = (time & 0x1F) * 2;
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59)
    return 0;
  return static_cast<int64_t>(timegm(&tm));
}

int64_t FileTimeToUnixSeconds(uint64_t fileTime) {
  constexpr uint64_t kTicksPerSecond = 10000000;
  constexpr uint64_t kSeconds1601To1970 = 11644473600ull;
  const uint64_t seconds = fileTime / kTicksPerSecond;
  return seconds < kSeconds1601To1970 ? 0 : static_cast<int64_t>(seconds - kSeconds1601To1970);
}

}  // namespace quorvel
