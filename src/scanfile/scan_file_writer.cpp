#include "scanfile/scan_file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "scanfile/scan_file_format.h"

namespace quorvel {

namespace {

constexpr size_t kFlushBytes = 1 << 20;

// Lines into a buffer that is handed to flush whenever it grows past
// kFlushBytes (and once more at the end).
class LineWriter {
 public:
  explicit LineWriter(std::function<bool(std::string_view)> flush) : flush_(std::move(flush)) {
    buffer_.reserve(kFlushBytes + 4096);
  }

  // A signed 64-bit decimal: the format stores its 64-bit values signed.
  void Signed(int64_t value) {
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    buffer_.append(digits, end);
  }
  void Number64(uint64_t value) { Signed(static_cast<int64_t>(value)); }
  // "%d" of a 32-bit field.
  void Number32(uint32_t value) { Signed(static_cast<int32_t>(value)); }
  void Unsigned(uint64_t value) {
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    buffer_.append(digits, end);
  }
  void Char(char c) { buffer_ += c; }
  // A text value; line breaks inside it would split the line.
  void Text(const std::string& text) {
    const size_t at = buffer_.size();
    buffer_ += text;
    std::replace_if(
        buffer_.begin() + static_cast<std::ptrdiff_t>(at), buffer_.end(), [](char c) { return c == '\r' || c == '\n'; },
        ' ');
  }
  void EndLine() {
    buffer_ += kScanFileLineEnd;
    if (buffer_.size() >= kFlushBytes) Flush();
  }

  void TextLine(const std::string& text) {
    Text(text);
    EndLine();
  }
  void Line64(uint64_t value) {
    Number64(value);
    EndLine();
  }
  void Line32(uint32_t value) {
    Number32(value);
    EndLine();
  }

  bool Flush() {
    if (ok_ && !buffer_.empty()) ok_ = flush_(buffer_);
    written_ += buffer_.size();
    buffer_.clear();
    return ok_;
  }
  bool ok() const { return ok_; }
  uint64_t written() const { return written_; }

 private:
  std::function<bool(std::string_view)> flush_;
  std::string buffer_;
  bool ok_ = true;
  uint64_t written_ = 0;
};

// A count line of the format holds a signed 32-bit number.
uint32_t CountOf(size_t size) { return static_cast<uint32_t>(std::min<size_t>(size, INT32_MAX)); }

void WriteCollections(const DiskRecord& disk, LineWriter& w) {
  const uint32_t sectors = CountOf(disk.directorySectors.size());
  w.Line32(sectors);
  uint32_t n = 0;
  for (auto it = disk.directorySectors.begin(); n < sectors; ++it, ++n) w.Line64(*it);

  // Ascending by start, one fragment per start (the first one listed wins).
  std::vector<std::pair<uint64_t, uint32_t>> fragments;
  fragments.reserve(disk.mftFragments.size());
  for (const MftFragment& f : disk.mftFragments) fragments.emplace_back(f.startSector, f.sectorCount);
  std::stable_sort(fragments.begin(), fragments.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  fragments.erase(
      std::unique(fragments.begin(), fragments.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
      fragments.end());
  const uint32_t fragmentCount = CountOf(fragments.size());
  w.Line32(fragmentCount);
  for (uint32_t i = 0; i < fragmentCount; ++i) {
    w.Number64(fragments[i].first);
    w.Char(',');
    w.Number32(fragments[i].second);
    w.EndLine();
  }

  const uint32_t carved = CountOf(disk.carvedFiles.size());
  w.Line32(carved);
  n = 0;
  for (auto it = disk.carvedFiles.begin(); n < carved; ++it, ++n) {
    w.Number64(it->first);
    w.Char(',');
    // The whole 64-bit size: compound documents can pass 4 GiB, and a size
    // cut to 32 bits would save a cut file after the reload.
    w.Unsigned(it->second.size);
    w.Char(',');
    w.Text(it->second.name);
    w.EndLine();
  }
}

void WriteDiskValues(const DiskRecord& disk, LineWriter& w) {
  w.Line32(disk.mapEntryCount);
  w.Line32(disk.diskKind);
  w.TextLine(disk.diskIdText);
  w.TextLine(disk.groupIdText);
  w.Line64(disk.lvm.peStart);
  w.Line64(disk.lvm.devSize);
  w.Line64(disk.scanFileReserved64);
  w.Line32(disk.lvm.peCount);
  w.Line32(disk.scanFileReserved32a);
  w.Line32(disk.lvm.extentSize);
  w.Line32(disk.scanFileReserved32b);
}

void WritePartitionCaches(const DiskRecord& disk, LineWriter& w) {
  uint64_t index = 0;
  for (const PartitionRecord& p : disk.partitions) {
    if (p.fat.sizeSectors != 0 || p.ntfs.mftStartSector != 0) {
      w.Text(kPartitionCacheTag);
      w.Char(',');
      w.Unsigned(index);
      w.Char(',');
      w.Unsigned(p.fat.sizeSectors);
      w.Char(',');
      w.Unsigned(p.ntfs.mftStartSector);
      w.EndLine();
    }
    ++index;
  }
}

void WritePartition(const PartitionRecord& p, LineWriter& w) {
  w.TextLine(kPartitionMark);
  w.TextLine(p.devicePath);
  w.TextLine(p.subKindText);
  w.Line32(static_cast<uint32_t>(p.subKindCode));
  w.TextLine(p.volumeLabel);
  w.TextLine(p.driveLetter);
  w.TextLine(p.name);
  w.TextLine(p.linuxSubKind);
  w.Line64(p.sectorCount);
  w.Line64(p.startSector);
  w.Line32(p.role);
  w.Line32(p.sectorsPerCluster);
  w.Line64(p.dataOrigin);
  w.Line32(p.fsKind);
  w.Line32(p.bytesPerSector);
  w.Line32(static_cast<uint32_t>(p.originCode));
  w.Line32(p.volumeKind);
  w.Line32(p.stripeSize);
  uint32_t i = 0;
  for (const auto& [ordinal, member] : p.members) {
    w.Line32(i++);
    for (uint8_t byte : member.memberDiskId) {
      w.Unsigned(byte);
      w.Char(',');
    }
    w.EndLine();
    w.TextLine(member.path);
    w.Line64(member.startSector);
    w.Line64(member.sectorCount);
  }
}

void WriteLogicalVolume(const LvmLogicalVolume& lv, LineWriter& w) {
  w.TextLine(kLogicalVolumesMark);
  w.TextLine(lv.name);
  w.Line32(lv.flag);
  w.TextLine(lv.text1);
  w.TextLine(lv.text2);
  w.TextLine(lv.text3);
  w.Line64(lv.size);
  w.Line32(lv.segmentCount);
  w.TextLine(lv.kindText);
  for (const LvmSegment& s : lv.segments) {
    w.TextLine(kSegmentMark);
    w.Line32(s.startExtent);
    w.Line32(s.extentCount);
    w.TextLine(s.pvName);
    w.Line32(s.stripeCount);
    w.TextLine(s.pvId);
    w.Line64(s.pvStartExtent);
  }
}

bool WriteAll(LineWriter& w, const DiskRecord& disk) {
  w.TextLine(disk.Identity());
  WriteCollections(disk, w);
  WriteDiskValues(disk, w);
  WritePartitionCaches(disk, w);
  for (const PartitionRecord& p : disk.partitions) WritePartition(p, w);
  for (const LvmLogicalVolume& lv : disk.lvm.logicalVolumes) WriteLogicalVolume(lv, w);
  return w.Flush();
}

bool WriteFd(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string SystemError() { return std::strerror(errno); }

}  // namespace

std::string ScanResultText(const DiskRecord& disk) {
  std::string text;
  LineWriter w([&text](std::string_view bytes) {
    text.append(bytes);
    return true;
  });
  WriteAll(w, disk);
  return text;
}

ScanFileSaveResult SaveScanResult(const DiskRecord& disk, const std::string& path) {
  ScanFileSaveResult result;
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) {
    result.status = ScanFileSaveStatus::kCannotCreate;
    result.error = "no file name";
    return result;
  }
  // A link at the file's name is not followed (nor replaced): it may have
  // been put there to have the file written, or a file removed, elsewhere.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    result.status = ScanFileSaveStatus::kCannotCreate;
    result.error = S_ISLNK(st.st_mode) ? "a symbolic link (not followed)" : "not a regular file";
    return result;
  }
  std::string temporary = (slash == std::string::npos ? std::string() : folder) + "." + base + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    result.status = ScanFileSaveStatus::kCannotCreate;
    result.error = SystemError();
    return result;
  }
  ::fchmod(fd, 0644);
  LineWriter w([fd](std::string_view bytes) { return WriteFd(fd, bytes); });
  bool ok = WriteAll(w, disk);
  if (!ok) result.error = SystemError();
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    result.error = SystemError();
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    result.error = SystemError();
  }
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    result.error = SystemError();
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    result.status = ScanFileSaveStatus::kWriteFailed;
    return result;
  }
  result.bytes = w.written();
  return result;
}

}  // namespace quorvel
