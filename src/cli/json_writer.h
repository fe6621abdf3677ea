#pragma once
// A small streaming JSON writer for the command line's --json output.
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::cli {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(const std::string& key);
  JsonWriter& String(const std::string& value);
  JsonWriter& Number(uint64_t value);
  JsonWriter& SignedNumber(int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  // Key + value in one call.
  JsonWriter& Field(const std::string& key, const std::string& value) { return Key(key).String(value); }
  JsonWriter& Field(const std::string& key, const char* value) { return Key(key).String(value); }
  JsonWriter& Field(const std::string& key, uint64_t value) { return Key(key).Number(value); }
  JsonWriter& Field(const std::string& key, uint32_t value) { return Key(key).Number(value); }
  JsonWriter& Field(const std::string& key, int value) { return Key(key).SignedNumber(value); }
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

}  // namespace quorvel::cli
