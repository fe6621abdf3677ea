#include "scanfile/scan_file_reader.h"

#include <climits>
#include <limits>
#include <map>
#include <string_view>

#include "platform/text.h"
#include "scanfile/scan_file_format.h"
#include "scanfile/scan_file_lines.h"

namespace quorvel {

namespace {

constexpr size_t kKeptProblems = 20;
constexpr int64_t kMaxSector = static_cast<int64_t>(kMaxScanFileSector);
const char* const kExtraFoundFiles = "Extra Found Files";

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A whole decimal number, optionally signed, blanks around it allowed; false
// for anything else (an empty text, other characters, more than 64 bits).
bool ParseSigned(std::string_view text, int64_t& value) {
  text = Trimmed(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX);
  uint64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

// The text of a line, shortened for a message.
std::string Quoted(std::string_view text) {
  constexpr size_t kShown = 40;
  std::string shown(text.substr(0, kShown));
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return "\"" + shown + (text.size() > kShown ? "...\"" : "\"");
}

std::string ExtensionOf(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

class Parser {
 public:
  Parser(const ByteSource& file, ScanFileContents& out, const ScanFileDiskBounds& bounds)
      : file_(file),
        bounds_(bounds),
        diskSectors_((bounds.bytes + 511) / 512),
        lines_(file),
        out_(out),
        v_(out.values) {}

  void Run(const std::string* expectedIdentity) {
    if (!lines_.Next(false)) return Problem("the file is empty", 0);
    if (lines_.cut()) {
      out_.otherDisk = expectedIdentity != nullptr;
      return Problem("the first line is too long for a disk's identity: not a scan-result file");
    }
    // Line 1 decides before anything else is read: a file for another disk
    // (or no scan-result file at all) is not read on.
    const std::string first = lines_.line();
    const bool firstIsUtf8 = IsValidUtf8(first);
    if (expectedIdentity && first != *expectedIdentity && (firstIsUtf8 || Gb18030ToUtf8(first) != *expectedIdentity)) {
      out_.identity = firstIsUtf8 ? first : Gb18030ToUtf8(first);
      out_.otherDisk = true;
      return;
    }
    out_.encoding = ScanFileIsUtf8(file_) ? ScanFileEncoding::kUtf8 : ScanFileEncoding::kGb18030;
    out_.identity = expectedIdentity && first == *expectedIdentity ? first : Text();
    if (lines_.unterminated()) return Problem("the file ends after its first line");
    if (!ReadCollections()) return;
    out_.collectionsRead = true;
    if (!ReadDiskValues()) return;
    out_.diskValuesRead = true;
    ReadBlocks();
  }

 private:
  void Problem(const std::string& what) { Problem(what, lines_.lineNumber()); }
  void Problem(const std::string& what, uint64_t line) {
    ++out_.problemCount;
    if (out_.problems.size() < kKeptProblems) out_.problems.push_back({line, what});
  }
  void EndedEarly(const char* expected) { Problem(std::string("the file ends where ") + expected + " should follow"); }

  // Moves to the next whole line. A line cut short by the file's end is not
  // whole: it counts as the end.
  bool NextLine() {
    if (!lines_.Next()) return false;
    if (lines_.unterminated()) {
      Problem("the file ends inside this line");
      return false;
    }
    if (lines_.cut()) Problem("line longer than " + std::to_string(kMaxScanFileLine) + " bytes, cut");
    return true;
  }
  // The next line, or false (with a note of what was expected) at the end.
  bool Line(const char* expected) {
    if (NextLine()) return true;
    EndedEarly(expected);
    return false;
  }

  std::string Decoded(std::string_view bytes) const {
    return out_.encoding == ScanFileEncoding::kGb18030 ? Gb18030ToUtf8(bytes) : std::string(bytes);
  }
  std::string Text() const { return Decoded(lines_.line()); }

  // A number within [min, max] from text; notes what is wrong otherwise.
  bool Number(std::string_view text, int64_t min, int64_t max, int64_t& value, const char* what) {
    if (ParseSigned(text, value) && value >= min && value <= max) return true;
    Problem(std::string(what) + ": " + Quoted(text) + " is not a number from " + std::to_string(min) + " to " +
            std::to_string(max));
    value = 0;
    return false;
  }
  bool Sector(std::string_view text, uint64_t& out, const char* what) {
    int64_t value;
    const bool ok = Number(text, 0, kMaxSector, value, what);
    out = static_cast<uint64_t>(value);
    return ok;
  }
  // "%d" of a 32-bit field: written signed, so values from 2^31 come back
  // negative.
  bool Field32(std::string_view text, uint32_t& out, const char* what) {
    int64_t value;
    const bool ok = Number(text, INT32_MIN, UINT32_MAX, value, what);
    out = static_cast<uint32_t>(value);
    return ok;
  }
  template <typename T>
  bool Small(std::string_view text, T& out, const char* what) {
    int64_t value;
    const bool ok = Number(text, 0, std::numeric_limits<T>::max(), value, what);
    out = static_cast<T>(value);
    return ok;
  }
  bool Signed32(std::string_view text, int32_t& out, const char* what) {
    int64_t value;
    const bool ok = Number(text, INT32_MIN, INT32_MAX, value, what);
    out = static_cast<int32_t>(value);
    return ok;
  }
  bool Value64(std::string_view text, uint64_t& out, const char* what) {
    int64_t value;
    const bool ok = Number(text, INT64_MIN, INT64_MAX, value, what);
    out = static_cast<uint64_t>(value);
    return ok;
  }
  // ---- ranges and the disk's end -------------------------------------------

  std::string DiskEnd() const { return "the disk's end (" + std::to_string(diskSectors_) + " sectors)"; }
  // problem: the cut makes the file damaged. A scan's own partition that runs
  // past the end of an image cut short is only counted: the file is whole.
  void Clipped(const std::string& what, uint64_t line, bool problem = true) {
    ++out_.clippedRanges;
    if (problem) Problem(what, line);
  }
  // False (noted) when sector lies past the disk's end.
  bool OnDisk(uint64_t sector, const std::string& what, uint64_t line) {
    if (diskSectors_ == 0 || sector < diskSectors_) return true;
    Clipped(what + " lies past " + DiskEnd() + ": left out", line);
    return false;
  }
  // Cuts count sectors from start to the disk's end; false (noted) when
  // nothing of it is on the disk.
  template <typename Count>
  bool CutToDisk(uint64_t start, Count& count, const std::string& what, uint64_t line, bool problem = true) {
    if (!OnDisk(start, what, line)) return false;
    if (diskSectors_ == 0 || count <= diskSectors_ - start) return true;
    count = static_cast<Count>(diskSectors_ - start);
    Clipped(what + " reaches past " + DiskEnd() + ": cut to " + std::to_string(count) + " sectors", line, problem);
    return true;
  }

  // A count line: how many element lines follow. A count that is not one
  // reads as none.
  bool Count(const char* what, int64_t& count) {
    if (!Line(what)) return false;
    Number(lines_.line(), 0, INT32_MAX, count, what);
    return true;
  }

  // ---- sections 2 to 4 ----------------------------------------------------

  bool ReadCollections() {
    int64_t count;
    if (!Count("the count of directory sectors", count)) return false;
    for (int64_t i = 0; i < count; ++i) {
      if (!Line("a directory sector")) return false;
      uint64_t sector;
      if (Sector(lines_.line(), sector, "directory sector") &&
          OnDisk(sector, "directory sector " + std::to_string(sector), lines_.lineNumber()))
        v_.directorySectors.insert(v_.directorySectors.end(), sector);
    }

    if (!Count("the count of MFT fragments", count)) return false;
    std::map<uint64_t, uint32_t> fragments;
    for (int64_t i = 0; i < count; ++i) {
      if (!Line("an MFT fragment")) return false;
      const std::string_view line = lines_.line();
      const size_t comma = line.find(',');
      uint64_t start;
      uint32_t sectors;
      if (comma == std::string_view::npos) {
        Problem("MFT fragment " + Quoted(line) + " is not START,COUNT");
      } else if (Sector(line.substr(0, comma), start, "MFT fragment start") &&
                 Field32(line.substr(comma + 1), sectors, "MFT fragment length") &&
                 CutToDisk(start, sectors, "MFT fragment " + std::to_string(start) + "," + std::to_string(sectors),
                           lines_.lineNumber())) {
        fragments.emplace_hint(fragments.end(), start, sectors);
      }
    }
    for (const auto& [start, sectors] : fragments) v_.mftFragments.push_back({start, sectors});

    if (!Count("the count of carved files", count)) return false;
    for (int64_t i = 0; i < count; ++i) {
      if (!Line("a carved file")) return false;
      const std::string_view line = lines_.line();
      const size_t first = line.find(',');
      const size_t second = first == std::string_view::npos ? first : line.find(',', first + 1);
      uint64_t key;
      int64_t size;
      if (second == std::string_view::npos) {
        Problem("carved file " + Quoted(line) + " is not SECTOR,SIZE,NAME");
      } else if (Sector(line.substr(0, first), key, "carved file sector") &&
                 Number(line.substr(first + 1, second - first - 1), INT32_MIN, INT64_MAX, size, "carved file size")) {
        CarvedFile file;
        // Written as "%d" by other writers: a size from 2 GiB on reads back
        // negative.
        file.size = size < 0 ? static_cast<uint32_t>(size) : static_cast<uint64_t>(size);
        const std::string what = "carved file at sector " + std::to_string(key);
        if (!OnDisk(key, what, lines_.lineNumber())) continue;
        const uint64_t room = bounds_.bytes ? bounds_.bytes - key * 512 : UINT64_MAX;
        if (file.size > room) {
          Clipped(what + " (" + std::to_string(file.size) + " bytes) reaches past " + DiskEnd() + ": cut to " +
                      std::to_string(room) + " bytes",
                  lines_.lineNumber());
          file.size = room;
        }
        file.name = Decoded(line.substr(second + 1));
        file.extension = ExtensionOf(file.name);
        v_.carvedFiles.emplace_hint(v_.carvedFiles.end(), key, std::move(file));
      }
    }
    v_.extraFoundFiles.name = kExtraFoundFiles;
    v_.extraFoundFiles.size = 0;
    return true;
  }

  // ---- section 5 ------------------------------------------------------------

  bool ReadDiskValues() {
    const char* const kWhat = "the disk values";
    if (!Line(kWhat)) return false;
    Field32(lines_.line(), v_.mapEntryCount, "map entry count");
    if (!Line(kWhat)) return false;
    Field32(lines_.line(), v_.diskKind, "disk kind");
    if (!Line(kWhat)) return false;
    v_.diskIdText = Text();
    if (!Line(kWhat)) return false;
    v_.groupIdText = Text();
    if (!Line(kWhat)) return false;
    Value64(lines_.line(), v_.lvm.peStart, "pe_start");
    if (!Line(kWhat)) return false;
    Value64(lines_.line(), v_.lvm.devSize, "dev_size");
    if (!Line(kWhat)) return false;
    Value64(lines_.line(), v_.scanFileReserved64, "reserved value");
    if (!Line(kWhat)) return false;
    Field32(lines_.line(), v_.lvm.peCount, "pe_count");
    if (!Line(kWhat)) return false;
    Field32(lines_.line(), v_.scanFileReserved32a, "reserved value");
    if (!Line(kWhat)) return false;
    Field32(lines_.line(), v_.lvm.extentSize, "extent_size");
    if (!Line(kWhat)) return false;
    Field32(lines_.line(), v_.scanFileReserved32b, "reserved value");
    return true;
  }

  // ---- sections 6 and 7 -----------------------------------------------------

  void ReadBlocks() {
    while (NextLine()) {
      const std::string& line = lines_.line();
      if (line == kPartitionMark)
        ReadPartition();
      else if (line == kLogicalVolumesMark)
        ReadLogicalVolume();
      else if (line.rfind(kPartitionCacheTag, 0) == 0)
        ReadPartitionCache(line);
      else if (!Trimmed(line).empty())
        Problem("unexpected line " + Quoted(line) + " skipped");
    }
  }

  // The next line of a block through parse; false at the end of the file.
  // A value parse rejects marks the block as not well-formed.
  template <typename Parse>
  bool Field(const char* expected, bool& wellFormed, Parse parse) {
    if (!Line(expected)) return false;
    if (!parse(std::string_view(lines_.line()))) wellFormed = false;
    return true;
  }
  // A text line: always well-formed.
  bool TextField(const char* expected, std::string& out) {
    if (!Line(expected)) return false;
    out = Text();
    return true;
  }

  bool IsMark(const std::string& line) const {
    return line == kPartitionMark || line == kLogicalVolumesMark || line == kSegmentMark;
  }

  // FAT size and MFT start of a partition block to come (by its index).
  void ReadPartitionCache(std::string_view line) {
    const std::string_view rest = line.substr(std::string_view(kPartitionCacheTag).size());
    const size_t second = rest.find(',', 1);
    const size_t third = second == std::string_view::npos ? second : rest.find(',', second + 1);
    int64_t index;
    PartitionCache cache;
    if (rest.empty() || rest[0] != ',' || third == std::string_view::npos) {
      Problem("partition cache " + Quoted(line) + " is not " + kPartitionCacheTag + ",INDEX,FAT_SECTORS,MFT_START");
    } else if (Number(rest.substr(1, second - 1), 0, INT32_MAX, index, "partition index") &&
               Field32(rest.substr(second + 1, third - second - 1), cache.fatSectors, "FAT size") &&
               Sector(rest.substr(third + 1), cache.mftStartSector, "MFT start")) {
      caches_[static_cast<size_t>(index)] = cache;
    }
  }

  void ReadPartition() {
    const uint64_t blockLine = lines_.lineNumber();
    const size_t blockIndex = partitionBlocks_++;
    const char* const kWhat = "a partition's values";
    PartitionRecord p;
    bool ok = true;
    const bool whole = TextField(kWhat, p.devicePath) && TextField(kWhat, p.subKindText) &&
                       Field(kWhat, ok, [&](auto t) { return Signed32(t, p.subKindCode, "sub-kind code"); }) &&
                       TextField(kWhat, p.volumeLabel) && TextField(kWhat, p.driveLetter) && TextField(kWhat, p.name) &&
                       TextField(kWhat, p.linuxSubKind) &&
                       Field(kWhat, ok, [&](auto t) { return Sector(t, p.sectorCount, "sector count"); }) &&
                       Field(kWhat, ok, [&](auto t) { return Sector(t, p.startSector, "start sector"); }) &&
                       Field(kWhat, ok, [&](auto t) { return Small(t, p.role, "role"); }) &&
                       Field(kWhat, ok, [&](auto t) { return SectorsPerCluster(t, p.sectorsPerCluster); }) &&
                       Field(kWhat, ok, [&](auto t) { return Sector(t, p.dataOrigin, "data origin"); }) &&
                       Field(kWhat, ok, [&](auto t) { return Small(t, p.fsKind, "file-system kind"); }) &&
                       Field(kWhat, ok, [&](auto t) { return BytesPerSector(t, p.bytesPerSector); }) &&
                       Field(kWhat, ok, [&](auto t) { return Signed32(t, p.originCode, "origin code"); }) &&
                       Field(kWhat, ok, [&](auto t) { return Small(t, p.volumeKind, "volume kind"); }) &&
                       Field(kWhat, ok, [&](auto t) { return Small(t, p.stripeSize, "stripe size"); });
    if (!whole) return;  // the end of the file came first
    if (auto it = caches_.find(blockIndex); it != caches_.end()) {
      p.fat.sizeSectors = it->second.fatSectors;
      p.ntfs.mftStartSector = it->second.mftStartSector;
    }
    ReadMembers(p, ok);
    if (!ok) {
      Problem("the partition \"" + p.name + "\" is left out: some of its values are not readable", blockLine);
    } else if (!PartitionOnDisk(p, blockLine)) {
      // noted
    } else if (v_.partitions.size() >= kMaxScanFilePartitions) {
      Problem("more than " + std::to_string(kMaxScanFilePartitions) + " partitions: the rest are left out", blockLine);
    } else {
      v_.partitions.push_back(std::move(p));
    }
  }

  // Sizes a partition is read by: 0 would be taken up by every reader in
  // its own way, so such a block is refused here.
  bool BytesPerSector(std::string_view text, uint32_t& out) {
    if (!Field32(text, out, "bytes per sector")) return false;
    if (out == 512 || out == 1024 || out == 2048 || out == 4096) return true;
    Problem("bytes per sector " + std::to_string(out) + " is not a sector size");
    return false;
  }
  bool SectorsPerCluster(std::string_view text, uint32_t& out) {
    if (!Field32(text, out, "sectors per cluster")) return false;
    if (out != 0) return true;
    Problem("0 sectors per cluster is no cluster size");
    return false;
  }

  // A plain partition the disk itself does not list is cut to the disk. One
  // that begins on the disk and runs past its end is what a deep scan of an
  // image cut short records (the boot sector gives the whole volume's size):
  // cut, counted, but no damage. One that begins past the end is.
  bool PartitionOnDisk(PartitionRecord& p, uint64_t line) {
    if (p.volumeKind != kPlainVolume || bounds_.listed.count({p.startSector, p.sectorCount})) return true;
    return CutToDisk(p.startSector, p.sectorCount, "the partition \"" + p.name + "\"", line, false);
  }

  // Member blocks up to the next mark (handed back) or the end of the file.
  void ReadMembers(PartitionRecord& p, bool& partitionOk) {
    const char* const kWhat = "a member's values";
    while (NextLine()) {
      if (IsMark(lines_.line())) {
        lines_.HandBack();
        return;
      }
      VolumeMember m;
      bool ok = Small(lines_.line(), m.ordinal, "member ordinal");
      const bool whole = Field(kWhat, ok, [&](auto t) { return DiskId(t, m.memberDiskId); }) &&
                         TextField(kWhat, m.path) &&
                         Field(kWhat, ok, [&](auto t) { return Sector(t, m.startSector, "member start"); }) &&
                         Field(kWhat, ok, [&](auto t) { return Sector(t, m.sectorCount, "member length"); });
      if (!whole) {
        partitionOk = false;  // a composite volume short of a member reads wrong bytes
        return;
      }
      if (!ok) {
        partitionOk = false;
      } else if (p.members.size() >= kMaxScanFileMembers || !p.members.emplace(m.ordinal, m).second) {
        Problem("member " + std::to_string(m.ordinal) + " listed twice");
        partitionOk = false;
      }
    }
  }

  // Sixteen byte values, each followed by a comma.
  bool DiskId(std::string_view text, std::array<uint8_t, 16>& id) {
    size_t at = 0;
    for (size_t i = 0; i < id.size(); ++i) {
      const size_t comma = text.find(',', at);
      const std::string_view piece =
          text.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at);
      if (!Small(piece, id[i], "member disk id byte")) return false;
      if (comma == std::string_view::npos) {
        if (i + 1 != id.size()) {
          Problem("member disk id " + Quoted(text) + " has fewer than 16 bytes");
          return false;
        }
        return true;
      }
      at = comma + 1;
    }
    if (!Trimmed(text.substr(at)).empty()) {
      Problem("member disk id " + Quoted(text) + " has more than 16 bytes");
      return false;
    }
    return true;
  }

  void ReadLogicalVolume() {
    const uint64_t blockLine = lines_.lineNumber();
    const char* const kWhat = "a logical volume's values";
    LvmLogicalVolume lv;
    bool ok = true;
    const bool whole = TextField(kWhat, lv.name) &&
                       Field(kWhat, ok, [&](auto t) { return Small(t, lv.flag, "flag"); }) &&
                       TextField(kWhat, lv.text1) && TextField(kWhat, lv.text2) && TextField(kWhat, lv.text3) &&
                       Field(kWhat, ok, [&](auto t) { return Sector(t, lv.size, "logical volume size"); }) &&
                       Field(kWhat, ok, [&](auto t) { return Field32(t, lv.segmentCount, "segment count"); }) &&
                       TextField(kWhat, lv.kindText);
    if (!whole) return;
    const char* const kSegment = "a segment's values";
    while (NextLine()) {
      if (lines_.line() != kSegmentMark) {
        lines_.HandBack();
        break;
      }
      LvmSegment s;
      const bool segmentWhole =
          Field(kSegment, ok, [&](auto t) { return Field32(t, s.startExtent, "start_extent"); }) &&
          Field(kSegment, ok, [&](auto t) { return Field32(t, s.extentCount, "extent_count"); }) &&
          TextField(kSegment, s.pvName) &&
          Field(kSegment, ok, [&](auto t) { return Field32(t, s.stripeCount, "stripe_count"); }) &&
          TextField(kSegment, s.pvId) &&
          Field(kSegment, ok, [&](auto t) { return Value64(t, s.pvStartExtent, "physical start extent"); });
      if (!segmentWhole) {
        ok = false;
        break;
      }
      if (segments_ >= kMaxScanFileSegments) {
        Problem("more than " + std::to_string(kMaxScanFileSegments) + " segments: the rest are left out");
        ok = false;
        continue;
      }
      ++segments_;
      lv.segments.push_back(std::move(s));
    }
    if (!ok) {
      Problem("the logical volume \"" + lv.name + "\" is left out: some of its values are not readable", blockLine);
    } else if (v_.lvm.logicalVolumes.size() >= kMaxScanFileLogicalVolumes) {
      Problem("more than " + std::to_string(kMaxScanFileLogicalVolumes) + " logical volumes: the rest are left out",
              blockLine);
    } else {
      v_.lvm.logicalVolumes.push_back(std::move(lv));
    }
  }

  struct PartitionCache {
    uint32_t fatSectors = 0;
    uint64_t mftStartSector = 0;
  };

  const ByteSource& file_;
  const ScanFileDiskBounds& bounds_;
  const uint64_t diskSectors_;               // 0: not known
  std::map<size_t, PartitionCache> caches_;  // by partition block index
  size_t partitionBlocks_ = 0;
  ScanFileLineReader lines_;
  ScanFileContents& out_;
  DiskRecord& v_;
  size_t segments_ = 0;
};

}  // namespace

ScanFileDiskBounds ScanFileDiskBounds::Of(const DiskRecord& disk) {
  ScanFileDiskBounds bounds;
  if (disk.diskKind != 0) return bounds;
  bounds.bytes = disk.sizeBytes;
  for (const PartitionRecord& p : disk.partitions)
    if (p.volumeKind == kPlainVolume) bounds.listed.emplace(p.startSector, p.sectorCount);
  return bounds;
}

void ReadScanFile(const ByteSource& file, ScanFileContents& out, const std::string* expectedIdentity,
                  const ScanFileDiskBounds& bounds) {
  out = ScanFileContents();
  Parser(file, out, bounds).Run(expectedIdentity);
}

std::string ScanFileProblemText(const std::vector<ScanFileProblem>& problems, uint64_t problemCount) {
  if (problems.empty()) return std::string();
  const ScanFileProblem& first = problems.front();
  std::string text = first.line ? "line " + std::to_string(first.line) + ": " + first.what : first.what;
  if (problemCount > 1) text += " (and " + std::to_string(problemCount - 1) + " more)";
  return text;
}

}  // namespace quorvel
