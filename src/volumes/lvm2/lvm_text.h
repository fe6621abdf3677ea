#pragma once
// Reading LVM2's metadata text: "key = value" lines and named "{ ... }"
// blocks, nested.
#include <string>
#include <string_view>

namespace quorvel {

// The value of the first "key = value" line for key (the key standing as a
// word of its own, followed by "="): the rest of that line, blanks trimmed,
// quotes kept. For "stripes" the text between the "[" after the key and the
// next "]". Empty when the key is not there.
std::string LvmValue(std::string_view text, std::string_view key);
// The same with the surrounding quotes removed.
std::string LvmQuoted(std::string_view text, std::string_view key);
// A number value; 0 when absent or not a number.
uint64_t LvmNumber(std::string_view text, std::string_view key);

// The text from the start of text up to and including the "}" that closes
// its first "{" (inner blocks paired). Empty when there is no "{" or it is
// never closed.
std::string_view LvmBlock(std::string_view text);
// The block that key opens ("key {"), or empty.
std::string_view LvmNamedBlock(std::string_view text, std::string_view key);

// Walks the blocks directly inside a block's body: each call returns the next
// one and its name (the word before its "{"); false when none is left.
class LvmChildBlocks {
 public:
  explicit LvmChildBlocks(std::string_view body) : rest_(body) {}
  bool Next(std::string& name, std::string_view& block);

 private:
  std::string_view rest_;
};

}  // namespace quorvel
