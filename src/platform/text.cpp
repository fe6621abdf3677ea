#include "platform/text.h"

#include <iconv.h>
#include <cerrno>
#include <vector>

namespace quorvel {

namespace {

// Writes cp's UTF-8 bytes at w; returns the end.
char* EncodeUtf8(char* w, uint32_t cp) {
  if (cp < 0x80) {
    *w++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *w++ = static_cast<char>(0xC0 | (cp >> 6));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *w++ = static_cast<char>(0xE0 | (cp >> 12));
    *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *w++ = static_cast<char>(0xF0 | (cp >> 18));
    *w++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return w;
}

// Decodes units UTF-16LE code units at data into w (room for 3 bytes per
// unit: a pair takes 4 bytes for its 2 units); returns the end.
char* DecodeUtf16Le(const uint8_t* data, size_t units, bool stopAtNul, char* w) {
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = static_cast<uint32_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (u < 0x80) {
      if (u == 0 && stopAtNul) break;
      *w++ = static_cast<char>(u);
      continue;
    }
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      uint32_t low = static_cast<uint32_t>(data[2 * i + 2] | (data[2 * i + 3] << 8));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        w = EncodeUtf8(w, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;  // unpaired surrogate
    w = EncodeUtf8(w, u);
  }
  return w;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
  char bytes[4];
  out.append(bytes, static_cast<size_t>(EncodeUtf8(bytes, cp) - bytes));
}

std::string Utf16LeToUtf8(ByteView bytes, bool stopAtNul) {
  // Decoded on the stack and copied once: every listed name comes through
  // here, and a string grown byte by byte (or sized for the worst case and
  // shrunk) costs time or keeps a heap block the name does not need.
  const size_t units = bytes.size() / 2;
  constexpr size_t kStackUnits = 512;  // NTFS and FAT names are at most 255 units
  if (units <= kStackUnits) {
    char text[kStackUnits * 3];
    return std::string(text, DecodeUtf16Le(bytes.data(), units, stopAtNul, text));
  }
  std::string out(units * 3, '\0');
  out.resize(static_cast<size_t>(DecodeUtf16Le(bytes.data(), units, stopAtNul, out.data()) - out.data()));
  return out;
}

// Decodes one UTF-8 sequence at text[i]; returns the code point or -1.
static int32_t DecodeUtf8(std::string_view text, size_t& i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
  if (extra < 0 || i + static_cast<size_t>(extra) >= text.size()) return -1;
  uint32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
  for (int k = 1; k <= extra; ++k) {
    unsigned char cc = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
    if ((cc & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (cc & 0x3F);
  }
  static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  i += static_cast<size_t>(extra) + 1;
  return static_cast<int32_t>(cp);
}

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size())
    if (DecodeUtf8(text, i) < 0) return false;
  return true;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    int32_t cp = DecodeUtf8(text, i);
    if (cp < 0) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

namespace {
// One converter per thread and direction: iconv descriptors are not shareable.
struct Converter {
  iconv_t cd;
  Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
  ~Converter() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
};
}  // namespace

std::string Cp936ToUtf8(std::string_view bytes) {
  thread_local Converter conv("UTF-8", "GBK");
  std::string out;
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // A GBK double-byte character, converted alone so one bad pair costs one '?'.
    if (i + 1 < bytes.size() && conv.cd != reinterpret_cast<iconv_t>(-1)) {
      char in[2] = {bytes[i], bytes[i + 1]};
      char result[8];
      char* inPtr = in;
      size_t inLeft = 2;
      char* outPtr = result;
      size_t outLeft = sizeof result;
      iconv(conv.cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(conv.cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) && inLeft == 0) {
        out.append(result, static_cast<size_t>(outPtr - result));
        i += 2;
        continue;
      }
    }
    out += '?';
    ++i;
  }
  return out;
}

std::string Gb18030ToUtf8(std::string_view bytes) {
  thread_local Converter conv("UTF-8", "GB18030");
  std::string out;
  if (conv.cd == reinterpret_cast<iconv_t>(-1)) return Cp936ToUtf8(bytes);
  out.reserve(bytes.size() * 3 / 2 + 4);
  std::string input(bytes);
  char* inPtr = input.data();
  size_t inLeft = input.size();
  char buffer[4096];
  iconv(conv.cd, nullptr, nullptr, nullptr, nullptr);
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t done = iconv(conv.cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // A byte that starts no character (or a character cut by the end): one
    // '?' for it, and on with the next byte.
    out += '?';
    ++inPtr;
    --inLeft;
    iconv(conv.cd, nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

bool Utf8ToCp936(std::string_view text, std::string& out) {
  thread_local Converter conv("GBK", "UTF-8");
  out.clear();
  if (conv.cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string input(text);
  std::vector<char> buffer(input.size() * 2 + 8);
  char* inPtr = input.data();
  size_t inLeft = input.size();
  char* outPtr = buffer.data();
  size_t outLeft = buffer.size();
  iconv(conv.cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(conv.cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) return false;
  out.assign(buffer.data(), static_cast<size_t>(outPtr - buffer.data()));
  return true;
}

}  // namespace quorvel
