#pragma once
// A small streaming JSON writer for the command line's --json output.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::cli {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(std::string_view key);
  JsonWriter& String(std::string_view value);
  JsonWriter& Number(uint64_t value);
  JsonWriter& SignedNumber(int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  // Key + value in one call.
  JsonWriter& Field(std::string_view key, std::string_view value) { return Key(key).String(value); }
  JsonWriter& Field(std::string_view key, const char* value) { return Key(key).String(value); }
  JsonWriter& Field(std::string_view key, uint64_t value) { return Key(key).Number(value); }
  JsonWriter& Field(std::string_view key, uint32_t value) { return Key(key).Number(value); }
  JsonWriter& Field(std::string_view key, int value) { return Key(key).SignedNumber(value); }
  const std::string& text() const { return out_; }
  // Empties the writer for the next document, keeping its buffer.
  void Clear() {
    out_.clear();
    needComma_.clear();
    afterKey_ = false;
  }

 private:
  void BeforeValue();
  std::string out_;
  std::vector<bool> needComma_;
  bool afterKey_ = false;
};

// Escapes a UTF-8 string for JSON (control characters as \u00XX).
std::string JsonEscape(const std::string& text);
// Appends text as a quoted, escaped JSON string.
void AppendJsonString(std::string& out, std::string_view text);
void AppendJsonNumber(std::string& out, uint64_t value);

}  // namespace quorvel::cli
