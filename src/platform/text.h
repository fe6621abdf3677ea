#pragma once
// Text conversion: everything inside the program is UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/byte_view.h"

namespace quorvel {

// Appends the UTF-8 form of code point cp.
void AppendUtf8(std::string& out, uint32_t cp);
// Little-endian UTF-16 code units (the bytes of `units`, an odd last byte
// ignored) to UTF-8; unpaired surrogates become U+FFFD. Stops at the first
// NUL unit when stopAtNul is set.
std::string Utf16LeToUtf8(ByteView units, bool stopAtNul = true);
// UTF-8 to little-endian UTF-16 code units (for tests and name checks).
std::u16string Utf8ToUtf16(std::string_view text);
// Code page 936 (GBK) bytes to UTF-8; undecodable bytes become '?'.
std::string Cp936ToUtf8(std::string_view bytes);
// GB18030 bytes (a superset of code page 936) to UTF-8; bytes that do not
// decode become '?'.
std::string Gb18030ToUtf8(std::string_view bytes);
// UTF-8 to code page 936; false when some character has no GBK form.
bool Utf8ToCp936(std::string_view text, std::string& out);
// True when text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

}  // namespace quorvel
