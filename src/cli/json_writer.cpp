#include "cli/json_writer.h"

#include <cstdio>

namespace quorvel::cli {

std::string JsonEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
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
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
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

JsonWriter& JsonWriter::Key(const std::string& key) {
  BeforeValue();
  out_ += '"' + JsonEscape(key) + "\":";
  afterKey_ = true;
  return *this;
}
JsonWriter& JsonWriter::String(const std::string& value) {
  BeforeValue();
  out_ += '"' + JsonEscape(value) + '"';
  return *this;
}
JsonWriter& JsonWriter::Number(uint64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
  return *this;
}
JsonWriter& JsonWriter::SignedNumber(int64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
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
