#include "cli/number_argument.h"

namespace quorvel::cli {

bool ParseNumberArgument(const std::string& text, uint64_t& value, uint64_t largest) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const uint64_t base = hex ? 16 : 10;
  const size_t first = hex ? 2 : 0;
  if (text.size() <= first) return false;
  uint64_t result = 0;
  for (size_t i = first; i < text.size(); ++i) {
    const char c = text[i];
    uint64_t digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<uint64_t>(c - '0');
    else if (hex && c >= 'a' && c <= 'f')
      digit = static_cast<uint64_t>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F')
      digit = static_cast<uint64_t>(c - 'A' + 10);
    else
      return false;
    if (digit > largest || result > (largest - digit) / base) return false;
    result = result * base + digit;
  }
  value = result;
  return true;
}

std::string NumberArgumentError(const std::string& what, const std::string& text, uint64_t smallest, uint64_t largest) {
  return what + " takes a whole number from " + std::to_string(smallest) + " to " + std::to_string(largest) +
         " (decimal, or hexadecimal after 0x), not \"" + text + "\"";
}

}  // namespace quorvel::cli
