#include "cli/json_writer.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace quorvel::cli {

namespace {

constexpr std::array<bool, 256> kNeedsEscape = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[static_cast<size_t>(c)] = true;
  table['"'] = table['\\'] = table[0x7F] = true;
  return table;
}();

bool NeedsEscape(unsigned char c) { return kNeedsEscape[c]; }

// True when one of the eight bytes needs escaping: below 0x20, '"', '\\' or
// 0x7F (the usual "has zero byte" test on the word and its comparisons).
bool WordNeedsEscape(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  const auto hasZero = [](uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  const uint64_t below = (word - kOnes * 0x20) & ~word & kHighs;
  return (below | hasZero(word ^ (kOnes * '"')) | hasZero(word ^ (kOnes * '\\')) | hasZero(word ^ (kOnes * 0x7F))) != 0;
}

template <typename Number>
void AppendNumber(std::string& out, Number value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, static_cast<size_t>(result.ptr - digits));
}

// Appends text escaped to out. Runs of plain bytes go in one piece: paths of
// deeply nested entries are long, and every row carries its whole path.
void AppendEscaped(std::string& out, std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* run = p;
    // Eight plain bytes at a time, then byte by byte up to the one to escape.
    uint64_t word;
    while (end - p >= 8 && (std::memcpy(&word, p, 8), !WordNeedsEscape(word))) p += 8;
    while (p < end && !NeedsEscape(static_cast<unsigned char>(*p))) ++p;
    out.append(run, static_cast<size_t>(p - run));
    if (p == end) break;
    const auto c = static_cast<unsigned char>(*p++);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default: {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      }
    }
  }
}

}  // namespace

void AppendJsonNumber(std::string& out, uint64_t value) { AppendNumber(out, value); }

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  AppendEscaped(out, text);
  out += '"';
}

std::string JsonEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  AppendEscaped(out, text);
  return out;
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!needComma_.empty()) {
    if (needComma_.back()) out_ += ',';
    needComma_.back() = true;
  }
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  out_ += '{';
  needComma_.push_back(false);
  return *this;
}
JsonWriter& JsonWriter::EndObject() {
  out_ += '}';
  needComma_.pop_back();
  return *this;
}
JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  out_ += '[';
  needComma_.push_back(false);
  return *this;
}
JsonWriter& JsonWriter::EndArray() {
  out_ += ']';
  needComma_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  BeforeValue();
  out_ += '"';
  AppendEscaped(out_, key);
  out_ += "\":";
  afterKey_ = true;
  return *this;
}
JsonWriter& JsonWriter::String(std::string_view value) {
  BeforeValue();
  out_ += '"';
  AppendEscaped(out_, value);
  out_ += '"';
  return *this;
}
JsonWriter& JsonWriter::Number(uint64_t value) {
  BeforeValue();
  AppendNumber(out_, value);
  return *this;
}
JsonWriter& JsonWriter::SignedNumber(int64_t value) {
  BeforeValue();
  AppendNumber(out_, value);
  return *this;
}
JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
  return *this;
}
JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
  return *this;
}

}  // namespace quorvel::cli
