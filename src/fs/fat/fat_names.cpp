#include "fs/fat/fat_names.h"

#include <cstring>

#include "platform/text.h"

namespace quorvel {

FatEntryClass ClassifyFatAttribute(uint8_t a) {
  if (a == kFatLongNameAttribute) return FatEntryClass::kLongName;
  if (a <= 0x07 || (a >= 0x20 && a <= 0x27)) return FatEntryClass::kFile;
  if ((a >= 0x10 && a <= 0x17) || a == 0x30 || a == 0x32 || a == 0x34 || a == 0x36) return FatEntryClass::kFolder;
  return FatEntryClass::kIgnored;
}

bool IsBlankFatEntry(const uint8_t* entry) {
  for (int i = 0; i < 16; ++i)
    if (entry[i]) return false;
  return true;
}

bool IsDotFatEntry(const uint8_t* entry) {
  if (entry[0] != '.') return false;
  size_t i = (entry[1] == '.') ? 2 : 1;
  for (; i < 11; ++i)
    if (entry[i] != ' ') return false;
  return true;
}

namespace {

// Lower-cases ASCII letters only: multi-byte UTF-8 sequences have no bytes
// below 0x80, so Chinese text is left alone.
void LowerAscii(std::string& text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

std::string DecodeShortBytes(const uint8_t* bytes, size_t length, bool deleted) {
  if (length == 0) return std::string();
  if (deleted) {
    // The first byte was overwritten by the deletion mark; decoding it with
    // the next byte would invent a double-byte character.
    return "?" + Cp936ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes) + 1, length - 1));
  }
  std::string raw(reinterpret_cast<const char*>(bytes), length);
  if (static_cast<uint8_t>(raw[0]) == 0x05) raw[0] = static_cast<char>(0xE5);  // a lead byte that is the mark
  return Cp936ToUtf8(raw);
}

}  // namespace

std::string FatShortName(const uint8_t* entry, bool folder) {
  const bool deleted = entry[0] == kFatDeletedMark;
  const uint8_t caseFlags = entry[12];
  if (folder) {
    size_t length = 11;
    while (length > 1 && entry[length - 1] == ' ') --length;
    std::string name = DecodeShortBytes(entry, length, deleted);
    if (caseFlags & 0x08) LowerAscii(name);
    return name;
  }
  size_t baseLength = 8;
  while (baseLength > 1 && entry[baseLength - 1] == ' ') --baseLength;
  std::string name = DecodeShortBytes(entry, baseLength, deleted);
  if (caseFlags & 0x08) LowerAscii(name);
  size_t extLength = 3;
  while (extLength > 0 && entry[8 + extLength - 1] == ' ') --extLength;
  if (extLength > 0) {
    std::string ext = Cp936ToUtf8(std::string_view(reinterpret_cast<const char*>(entry) + 8, extLength));
    if (caseFlags & 0x10) LowerAscii(ext);
    name += '.';
    name += ext;
  }
  return name;
}

namespace {

void AppendPiece(const uint8_t* piece, size_t units, std::string& out) {
  for (size_t i = 0; i < units; ++i) {
    uint8_t lo = piece[2 * i], hi = piece[2 * i + 1];
    if ((lo == 0 && hi == 0) || (lo == 0xFF && hi == 0xFF)) return;
    out += static_cast<char>(lo);
    out += static_cast<char>(hi);
  }
}

bool AllFf(const uint8_t* bytes) {
  return bytes[0] == 0xFF && bytes[1] == 0xFF && bytes[2] == 0xFF && bytes[3] == 0xFF;
}

}  // namespace

void AppendLongNameUnits(const uint8_t* entry, std::string& units) {
  AppendPiece(entry + 1, 5, units);
  if (!AllFf(entry + 14)) AppendPiece(entry + 14, 6, units);
  if (!AllFf(entry + 28)) AppendPiece(entry + 28, 2, units);
}

uint8_t FatShortNameChecksum(const uint8_t* entry) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
  return sum;
}

}  // namespace quorvel
