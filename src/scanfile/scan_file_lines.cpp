#include "scanfile/scan_file_lines.h"

#include <algorithm>
#include <cstring>

#include "scanfile/scan_file_format.h"

namespace quorvel {

namespace {

constexpr size_t kPieceBytes = 1 << 20;
constexpr uint8_t kBom[] = {0xEF, 0xBB, 0xBF};

// Small files (and fuzz inputs) need no full piece.
size_t PieceBytes(const ByteSource& file) {
  return static_cast<size_t>(std::clamp<uint64_t>(file.Size(), 1, kPieceBytes));
}

bool StartsWithBom(const ByteSource& file) {
  uint8_t head[3];
  return file.ReadFull(0, head) && std::memcmp(head, kBom, 3) == 0;
}

// A UTF-8 check that goes on across pieces.
class Utf8Check {
 public:
  // False at the first byte that cannot be part of well-formed UTF-8.
  bool Feed(const uint8_t* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      const uint8_t b = bytes[i];
      if (need_ == 0) {
        if (b < 0x80) continue;
        low_ = 0x80;
        high_ = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
          need_ = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
          need_ = 2;
          if (b == 0xE0) low_ = 0xA0;   // no overlong forms
          if (b == 0xED) high_ = 0x9F;  // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
          need_ = 3;
          if (b == 0xF0) low_ = 0x90;
          if (b == 0xF4) high_ = 0x8F;  // nothing past U+10FFFF
        } else {
          return false;
        }
        continue;
      }
      if (b < low_ || b > high_) return false;
      low_ = 0x80;
      high_ = 0xBF;
      --need_;
    }
    return true;
  }

 private:
  int need_ = 0;
  uint8_t low_ = 0x80, high_ = 0xBF;
};

}  // namespace

bool ScanFileIsUtf8(const ByteSource& file) {
  std::vector<uint8_t> piece(PieceBytes(file));
  Utf8Check check;
  const uint64_t size = file.Size();
  for (uint64_t offset = StartsWithBom(file) ? 3 : 0; offset < size;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), size - offset));
    const size_t got = file.ReadAt(offset, std::span<uint8_t>(piece.data(), want));
    if (got == 0) break;
    if (!check.Feed(piece.data(), got)) return false;
    offset += got;
  }
  return true;
}

ScanFileLineReader::ScanFileLineReader(const ByteSource& file) : file_(file), buffer_(PieceBytes(file)) {
  if (StartsWithBom(file)) offset_ = 3;
}

bool ScanFileLineReader::Fill() {
  const uint64_t size = file_.Size();
  if (offset_ >= size) return false;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), size - offset_));
  end_ = file_.ReadAt(offset_, std::span<uint8_t>(buffer_.data(), want));
  pos_ = 0;
  offset_ += end_;
  return end_ > 0;
}

void ScanFileLineReader::DropCutCharacter() {
  // A UTF-8 character the cut went through would make the text invalid.
  size_t lead = line_.size();
  for (int back = 0; back < 4 && lead > 0; ++back) {
    const auto byte = static_cast<unsigned char>(line_[lead - 1]);
    --lead;
    if ((byte & 0xC0) != 0x80) {
      const size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      if (line_.size() - lead < length) line_.resize(lead);
      return;
    }
  }
}

bool ScanFileLineReader::Next(bool wholeLines) {
  if (handedBack_) {
    handedBack_ = false;
    return true;
  }
  if (abandoned_) return false;
  line_.clear();
  cut_ = unterminated_ = false;
  bool any = false;
  for (;;) {
    if (pos_ == end_ && !Fill()) {
      if (!any) return false;
      unterminated_ = true;
      break;
    }
    any = true;
    const uint8_t* start = buffer_.data() + pos_;
    const void* lf = std::memchr(start, '\n', end_ - pos_);
    const size_t length = lf ? static_cast<size_t>(static_cast<const uint8_t*>(lf) - start) : end_ - pos_;
    const size_t room = kMaxScanFileLine + 1 - std::min(line_.size(), kMaxScanFileLine + 1);
    line_.append(reinterpret_cast<const char*>(start), std::min(length, room));
    if (length > room) cut_ = true;
    if (cut_ && !wholeLines) {
      abandoned_ = true;
      break;
    }
    pos_ += length;
    if (lf) {
      ++pos_;
      break;
    }
  }
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  if (line_.size() > kMaxScanFileLine) {
    line_.resize(kMaxScanFileLine);
    cut_ = true;
  }
  if (cut_) DropCutCharacter();
  ++lineNumber_;
  return true;
}

}  // namespace quorvel
