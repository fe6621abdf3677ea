#include "volumes/lvm2/lvm_text.h"

#include <cctype>
#include <charconv>
#include <cstdint>

namespace quorvel {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Where key stands as a word followed (after blanks) by `follow`; returns the
// position just past `follow`, or npos.
size_t FindKey(std::string_view text, std::string_view key, char follow) {
  for (size_t at = text.find(key); at != std::string_view::npos; at = text.find(key, at + 1)) {
    if (at > 0 && !IsBlank(text[at - 1])) continue;
    size_t after = at + key.size();
    while (after < text.size() && (text[after] == ' ' || text[after] == '\t')) ++after;
    if (after < text.size() && text[after] == follow) return after + 1;
  }
  return std::string_view::npos;
}

}  // namespace

std::string LvmValue(std::string_view text, std::string_view key) {
  size_t at = FindKey(text, key, '=');
  if (at == std::string_view::npos) return std::string();
  if (key == "stripes") {
    size_t open = text.find('[', at);
    size_t close = open == std::string_view::npos ? open : text.find(']', open);
    if (close == std::string_view::npos) return std::string();
    return std::string(text.substr(open + 1, close - open - 1));
  }
  size_t end = text.find('\n', at);
  return std::string(Trim(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at)));
}

std::string LvmQuoted(std::string_view text, std::string_view key) {
  std::string value = LvmValue(text, key);
  // A comment may follow the closing quote.
  size_t close = value.size() >= 2 && value.front() == '"' ? value.find('"', 1) : std::string::npos;
  return close == std::string::npos ? value : value.substr(1, close - 1);
}

uint64_t LvmNumber(std::string_view text, std::string_view key) {
  std::string value = LvmValue(text, key);
  uint64_t number = 0;
  std::from_chars(value.data(), value.data() + value.size(), number);
  return number;
}

std::string_view LvmBlock(std::string_view text) {
  size_t open = text.find('{');
  if (open == std::string_view::npos) return {};
  size_t depth = 0;
  for (size_t i = open; i < text.size(); ++i) {
    if (text[i] == '{') {
      ++depth;
    } else if (text[i] == '}' && --depth == 0) {
      return text.substr(0, i + 1);
    }
  }
  return {};
}

std::string_view LvmNamedBlock(std::string_view text, std::string_view key) {
  size_t at = FindKey(text, key, '{');
  if (at == std::string_view::npos) return {};
  return LvmBlock(text.substr(at - 1));
}

bool LvmChildBlocks::Next(std::string& name, std::string_view& block) {
  size_t open = rest_.find('{');
  if (open == std::string_view::npos) return false;
  std::string_view before = Trim(rest_.substr(0, open));
  size_t word = before.find_last_of(" \t\r\n}");
  name = std::string(word == std::string_view::npos ? before : before.substr(word + 1));
  block = LvmBlock(rest_.substr(open));
  if (block.empty()) return false;
  rest_ = rest_.substr(open + block.size());
  return true;
}

}  // namespace quorvel
