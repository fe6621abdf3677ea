#pragma once
// Whole numbers typed on the command line (sector numbers, counts, ids), read
// the one way every command reads them: decimal digits, or hexadecimal ones
// after "0x". A sign, a blank, any other character or a value past the
// largest allowed is refused, so "-1" never becomes 2^64 - 1 and "010" is
// ten, not eight.
#include <cstdint>
#include <string>

namespace quorvel::cli {

bool ParseNumberArgument(const std::string& text, uint64_t& value, uint64_t largest = UINT64_MAX);

// What `what` takes, for a usage message: "START takes a whole number from 0
// to 18446744073709551615 (decimal, or hexadecimal after 0x), not \"-1\"".
std::string NumberArgumentError(const std::string& what, const std::string& text, uint64_t smallest = 0,
                                uint64_t largest = UINT64_MAX);

}  // namespace quorvel::cli
