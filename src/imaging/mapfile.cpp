#include "imaging/mapfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace quorvel {

void Mapfile::Mark(uint64_t position, uint64_t size, char status) {
  if (size == 0) return;
  uint64_t end = position + size < position ? UINT64_MAX : position + size;
  if (end > extent_) extent_ = end;
  // Cut a stretch that begins before position and reaches into the range.
  auto it = stretches_.lower_bound(position);
  if (it != stretches_.begin()) {
    auto prev = std::prev(it);
    if (prev->second.end > position) {
      Stretch tail = prev->second;
      prev->second.end = position;
      if (tail.end > end) stretches_[end] = tail;
    }
  }
  // Drop what begins inside the range, keeping a part that reaches past it.
  it = stretches_.lower_bound(position);
  while (it != stretches_.end() && it->first < end) {
    if (it->second.end > end) stretches_[end] = it->second;
    it = stretches_.erase(it);
  }
  if (status == MapStatus::kNonTried) return;  // gaps are non-tried
  it = stretches_.emplace(position, Stretch{end, status}).first;
  auto next = std::next(it);
  if (next != stretches_.end() && next->first == end && next->second.status == status) {
    it->second.end = next->second.end;
    stretches_.erase(next);
  }
  if (it != stretches_.begin()) {
    auto prev = std::prev(it);
    if (prev->second.end == position && prev->second.status == status) {
      prev->second.end = it->second.end;
      stretches_.erase(it);
    }
  }
}

std::vector<MapBlock> Mapfile::Blocks() const {
  std::vector<MapBlock> blocks;
  auto add = [&](uint64_t position, uint64_t end, char status) {
    if (end <= position) return;
    if (!blocks.empty() && blocks.back().status == status) {
      blocks.back().size = end - blocks.back().position;
      return;
    }
    blocks.push_back({position, end - position, status});
  };
  uint64_t cursor = 0;
  for (const auto& [position, stretch] : stretches_) {
    add(cursor, position, MapStatus::kNonTried);
    add(position, stretch.end, stretch.status);
    cursor = stretch.end;
  }
  add(cursor, extent_, MapStatus::kNonTried);
  return blocks;
}

MapBlock Mapfile::BlockAt(uint64_t position) const {
  auto next = stretches_.upper_bound(position);
  uint64_t gapStart = 0;
  if (next != stretches_.begin()) {
    auto it = std::prev(next);
    if (it->second.end > position) return {it->first, it->second.end - it->first, it->second.status};
    gapStart = it->second.end;
  }
  uint64_t gapEnd = next == stretches_.end() ? UINT64_MAX : next->first;
  return {gapStart, gapEnd - gapStart, MapStatus::kNonTried};
}

bool Mapfile::FindBlock(char status, uint64_t from, uint64_t low, uint64_t high, bool forwards, MapBlock& found) const {
  if (forwards) {
    for (uint64_t at = std::max(from, low); at < high;) {
      MapBlock b = BlockAt(at);
      uint64_t end = std::min(high, b.End());
      if (b.status == status) {
        found = {at, end - at, status};
        return true;
      }
      at = end;
    }
    return false;
  }
  for (uint64_t at = std::min(from, high); at > low;) {
    MapBlock b = BlockAt(at - 1);
    uint64_t begin = std::max(low, b.position);
    if (b.status == status) {
      found = {begin, at - begin, status};
      return true;
    }
    at = begin;
  }
  return false;
}

MapTally Mapfile::Tally(uint64_t start, uint64_t length) const {
  MapTally tally;
  const uint64_t end = start + length;
  bool inBadArea = false;
  for (uint64_t at = start; at < end;) {
    MapBlock b = BlockAt(at);
    uint64_t to = std::min(end, b.End());
    uint64_t bytes = to - at;
    switch (b.status) {
      case MapStatus::kNonTrimmed:
        tally.nonTrimmed += bytes;
        break;
      case MapStatus::kNonScraped:
        tally.nonScraped += bytes;
        break;
      case MapStatus::kBadSector:
        tally.badSector += bytes;
        break;
      case MapStatus::kFinished:
        tally.finished += bytes;
        break;
      default:
        tally.nonTried += bytes;
        break;
    }
    if (b.status == MapStatus::kBadSector && !inBadArea) ++tally.badAreas;
    inBadArea = b.status == MapStatus::kBadSector;
    at = to;
  }
  return tally;
}

uint64_t Mapfile::FinishedBytes(uint64_t start, uint64_t length, uint64_t* lastEnd) const {
  const uint64_t end = start + length;
  uint64_t total = 0, last = 0;
  auto it = stretches_.upper_bound(start);
  if (it != stretches_.begin()) --it;
  for (; it != stretches_.end() && it->first < end; ++it) {
    if (it->second.status != MapStatus::kFinished) continue;
    uint64_t from = std::max(start, it->first), to = std::min(end, it->second.end);
    if (to <= from) continue;
    total += to - from;
    last = to;
  }
  if (lastEnd) *lastEnd = last;
  return total;
}

std::string FormatMapfile(const Mapfile& map, const std::vector<std::string>& heading) {
  std::string text = "# Mapfile. Created by Quorvel (GNU ddrescue mapfile format)\n";
  for (const std::string& line : heading) text += "# " + line + "\n";
  char line[128];
  text += "# current_pos  current_status  current_pass\n";
  std::snprintf(line, sizeof line, "0x%08" PRIX64 "     %c               %d\n", map.currentPosition, map.currentStatus,
                map.currentPass);
  text += line;
  text += "#      pos        size  status\n";
  for (const MapBlock& b : map.Blocks()) {
    std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", b.position, b.size, b.status);
    text += line;
  }
  return text;
}

namespace {

// A number in C++ literal syntax: decimal, 0x hexadecimal or 0 octal.
bool ParseNumber(const std::string& token, uint64_t& value) {
  if (token.empty() || token[0] == '-' || token[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(token.c_str(), &end, 0);
  if (errno == ERANGE || !end || *end != '\0') return false;
  value = v;
  return true;
}

// One status character of the set (strchr alone would also match the NUL
// that ends the set).
bool IsStatus(const std::string& word, const char* set) {
  return word.size() == 1 && word[0] != '\0' && std::strchr(set, word[0]) != nullptr;
}

// The words of a line, up to a '#' at its start or after white space.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  for (size_t i = 0; i <= line.size(); ++i) {
    char c = i < line.size() ? line[i] : ' ';
    if (c == '#' && word.empty()) break;
    if (c == ' ' || c == '\t' || c == '\r') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  return words;
}

}  // namespace

bool ParseMapfile(const std::string& text, Mapfile& map, std::string& error) {
  map = Mapfile();
  std::istringstream in(text);
  std::string line;
  bool haveStatus = false;
  bool haveBlock = false;
  uint64_t expected = 0;
  int lineNumber = 0;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(lineNumber) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++lineNumber;
    std::vector<std::string> words = Words(line);
    if (words.empty()) continue;
    if (!haveStatus) {
      uint64_t position;
      if (words.size() < 2 || words.size() > 3 || !ParseNumber(words[0], position) || !IsStatus(words[1], "?*/-FG+"))
        return fail("not a status line (position, status, pass)");
      map.currentPosition = position;
      map.currentStatus = words[1][0];
      if (words.size() == 3) {
        uint64_t pass;
        if (!ParseNumber(words[2], pass) || pass == 0 || pass > 1000000) return fail("bad pass number");
        map.currentPass = static_cast<int>(pass);
      }
      haveStatus = true;
      continue;
    }
    uint64_t position, size;
    if (words.size() != 3 || !ParseNumber(words[0], position) || !ParseNumber(words[1], size) ||
        !IsStatus(words[2], "?*/-+"))
      return fail("not a block line (position, size, status)");
    if (position + size < position) return fail("block reaches past the largest position");
    if (haveBlock && position != expected) return fail("blocks are not contiguous");
    map.Mark(position, size, words[2][0]);
    expected = position + size;
    haveBlock = true;
  }
  return true;
}

bool ReadMapfile(const std::string& path, Mapfile& map, std::string& error) {
  constexpr uint64_t kLargest = 256ull << 20;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > kLargest) {
    ::close(fd);
    error = path + ": not a mapfile (not a regular file, or larger than 256 MiB)";
    return false;
  }
  std::string text(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  while (done < text.size()) {
    ssize_t got = ::read(fd, text.data() + done, text.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  ::close(fd);
  text.resize(done);
  if (!ParseMapfile(text, map, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

bool WriteMapfile(const std::string& path, const Mapfile& map, const std::vector<std::string>& heading,
                  std::string& error) {
  const std::string text = FormatMapfile(map, heading);
  const std::string temporary = path + ".quorvel-tmp";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    error = temporary + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<size_t>(put);
  }
  bool ok = done == text.size() && ::fsync(fd) == 0;
  int e = errno;
  ::close(fd);
  if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
    if (ok) e = errno;
    ::unlink(temporary.c_str());
    error = path + ": " + std::strerror(e ? e : EIO);
    return false;
  }
  // The rename itself is durable once the folder is.
  std::string folder = path.find('/') == std::string::npos ? "." : path.substr(0, path.find_last_of('/') + 1);
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace quorvel
