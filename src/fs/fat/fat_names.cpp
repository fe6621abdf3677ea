#include "fs/fat/fat_names.h"

#include <algorithm>

#include "platform/text.h"

namespace quorvel {

using namespace FatDirEntry;

FatEntryClass ClassifyFatAttribute(uint8_t a) {
  if (a == kFatLongNameAttribute) return FatEntryClass::kLongName;
  if (a <= 0x07 || (a >= 0x20 && a <= 0x27)) return FatEntryClass::kFile;
  if ((a >= 0x10 && a <= 0x17) || a == 0x30 || a == 0x32 || a == 0x34 || a == 0x36) return FatEntryClass::kFolder;
  return FatEntryClass::kIgnored;
}

bool IsBlankFatEntry(ByteView entry) {
  for (size_t i = 0; i < kBlankPrefix; ++i)
    if (entry.U8(i)) return false;
  return true;
}

bool IsDotFatEntry(ByteView entry) {
  if (entry.U8(kName) != '.') return false;
  size_t i = (entry.U8(kName + 1) == '.') ? 2 : 1;
  for (; i < kShortNameLength; ++i)
    if (entry.U8(kName + i) != ' ') return false;
  return true;
}

namespace {

// Lower-cases ASCII letters only: multi-byte UTF-8 sequences have no bytes
// below 0x80, so Chinese text is left alone.
void LowerAscii(std::string& text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

std::string Bytes(ByteView view) { return std::string(reinterpret_cast<const char*>(view.data()), view.size()); }

std::string DecodeShortBytes(ByteView bytes, bool deleted) {
  if (bytes.empty()) return std::string();
  if (deleted) {
    // The first byte was overwritten by the deletion mark; decoding it with
    // the next byte would invent a double-byte character.
    return "?" + Cp936ToUtf8(Bytes(bytes.Sub(1)));
  }
  std::string raw = Bytes(bytes);
  if (static_cast<uint8_t>(raw[0]) == kLeadByteE5)
    raw[0] = static_cast<char>(kDeletedMark);  // a lead byte that is the mark
  return Cp936ToUtf8(raw);
}

// Length of a blank-padded field without its trailing blanks, at least `least`.
size_t TrimmedLength(ByteView field, size_t least) {
  size_t length = field.size();
  while (length > least && field.U8(length - 1) == ' ') --length;
  return length;
}

}  // namespace

std::string FatShortName(ByteView entry, bool folder) {
  const bool deleted = entry.U8(kName) == kDeletedMark;
  const uint8_t caseFlags = entry.U8(kCaseFlags);
  if (folder) {
    const ByteView field = entry.Sub(kName, kShortNameLength);
    std::string name = DecodeShortBytes(field.Sub(0, TrimmedLength(field, 1)), deleted);
    if (caseFlags & kLowerCaseName) LowerAscii(name);
    return name;
  }
  const ByteView base = entry.Sub(kName, kNameLength);
  std::string name = DecodeShortBytes(base.Sub(0, TrimmedLength(base, 1)), deleted);
  if (caseFlags & kLowerCaseName) LowerAscii(name);
  const ByteView extension = entry.Sub(kExtension, kExtensionLength);
  const size_t extLength = TrimmedLength(extension, 0);
  if (extLength > 0) {
    std::string ext = Cp936ToUtf8(Bytes(extension.Sub(0, extLength)));
    if (caseFlags & kLowerCaseExtension) LowerAscii(ext);
    name += '.';
    name += ext;
  }
  return name;
}

namespace {

void AppendPiece(ByteView piece, std::string& out) {
  // Collected first and appended once: this runs for every long-name entry.
  const uint8_t* p = piece.data();
  size_t count = 0;
  for (const size_t end = std::min<size_t>(piece.size() & ~size_t{1}, 16); count < end; count += 2) {
    const uint8_t lo = p[count], hi = p[count + 1];
    if ((lo == 0 && hi == 0) || (lo == 0xFF && hi == 0xFF)) break;
  }
  out.append(reinterpret_cast<const char*>(p), count);
}

bool AllFf(ByteView bytes) { return bytes.Le32(0) == 0xFFFFFFFF; }

}  // namespace

void AppendLongNameUnits(ByteView entry, std::string& units) {
  using namespace FatLongNameEntry;
  AppendPiece(entry.Sub(kUnits1, 10), units);
  if (!AllFf(entry.Sub(kUnits2, 4))) AppendPiece(entry.Sub(kUnits2, 12), units);
  if (!AllFf(entry.Sub(kUnits3, 4))) AppendPiece(entry.Sub(kUnits3, 4), units);
}

uint8_t FatShortNameChecksum(ByteView entry) {
  uint8_t sum = 0;
  for (size_t i = 0; i < kShortNameLength; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry.U8(kName + i));
  return sum;
}

}  // namespace quorvel
