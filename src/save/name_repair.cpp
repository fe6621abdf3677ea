#include "save/name_repair.h"

#include <cstdint>
#include <string_view>

namespace quorvel {

// Longest name (in bytes) that Linux and Windows file systems accept.
constexpr size_t kMaxNameBytes = 255;

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one.
static size_t Utf8SequenceLength(std::string_view text, size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return 1;
  size_t extra = (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 0;
  if (extra == 0 || i + extra >= text.size()) return 0;
  uint32_t cp = extra == 1 ? (c & 0x1Fu) : extra == 2 ? (c & 0x0Fu) : (c & 0x07u);
  for (size_t k = 1; k <= extra; ++k) {
    unsigned char cc = static_cast<unsigned char>(text[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3Fu);
  }
  static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return extra + 1;
}

// Replaces every invalid UTF-8 byte by `bad`, and every control character and
// every character of `forbidden` by the replacement.
static std::string CleanCharacters(const std::string& name, std::string_view forbidden, const std::string& bad,
                                   const std::string& replacement) {
  std::string out;
  out.reserve(name.size());
  size_t i = 0;
  while (i < name.size()) {
    size_t len = Utf8SequenceLength(name, i);
    if (len == 0) {
      out += bad;
      ++i;
      continue;
    }
    if (len == 1) {
      unsigned char c = static_cast<unsigned char>(name[i]);
      if (c < 0x20 || c == 0x7F || forbidden.find(static_cast<char>(c)) != std::string_view::npos) {
        out += replacement;
        ++i;
        continue;
      }
    }
    out.append(name, i, len);
    i += len;
  }
  return out;
}

// Names that mean a folder itself or its parent, and empty names, get a
// replacement of the same length (at least one character).
static void ReplaceDotNames(std::string& name, const std::string& replacement) {
  if (name.empty()) {
    name = replacement;
  } else if (name == "." || name == "..") {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) out += replacement;
    name = out;
  }
}

// Cuts a name to kMaxNameBytes on a character boundary, keeping a short
// extension so the saved file still opens with the right program.
static void LimitNameLength(std::string& name) {
  if (name.size() <= kMaxNameBytes) return;
  std::string tail;
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0 && name.size() - dot <= 16) tail = name.substr(dot);
  size_t keep = kMaxNameBytes - tail.size();
  while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  name = name.substr(0, keep) + tail;
}

void RepairName(std::string& name, const std::string& replacement) {
  // Undecodable bytes first become "?", which the forbidden set then turns
  // into the replacement like any other "?".
  std::string text = CleanCharacters(name, "", "?", replacement);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '?':
      case '/':
      case ':':
      case '*':
      case '\\':
      case '"':
      case '<':
      case '>':
      case '|':
        out += replacement;
        break;
      default:
        out += c;
    }
  }
  ReplaceDotNames(out, replacement);
  LimitNameLength(out);
  name = out;
}

std::string SafeTargetName(const std::string& name, const std::string& replacement) {
  std::string out = CleanCharacters(name, "/", replacement, replacement);
  ReplaceDotNames(out, replacement);
  LimitNameLength(out);
  return out;
}

static std::string WithoutStars(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '*') out += c;
  return out;
}

bool MatchNameFilter(const std::string& name, const std::string& pattern) {
  std::string lower = name;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  size_t d = pattern.find('.');
  if (d == std::string::npos || d == 0) return lower.find(WithoutStars(pattern)) != std::string::npos;
  std::string left = WithoutStars(pattern.substr(0, d));
  std::string right = WithoutStars(pattern.substr(d + 1));
  std::string base = lower, extension = lower;
  size_t dot = lower.find('.');
  if (dot != std::string::npos) {
    base = lower.substr(0, dot);
    extension = lower.substr(dot + 1);
  }
  return base.find(left) != std::string::npos && extension.find(right) != std::string::npos;
}

std::string NameExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return name;
  return name.substr(dot + 1);
}

}  // namespace quorvel
