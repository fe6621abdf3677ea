#pragma once
// Checked reads of on-disk structures. A ByteView knows how many bytes it
// holds; every field read is bounds-checked and a field that does not fit
// reads as 0, so a parser handed a short or lying buffer never reads past it.
// Parsers check Has(offset, length) once for the structure they expect and
// then read its fields by their named offsets.
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ranges>
#include <span>
#include <string_view>
#include <type_traits>

namespace quorvel {

class ByteView {
 public:
  constexpr ByteView() = default;
  constexpr ByteView(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  constexpr ByteView(const uint8_t* data, size_t size) : bytes_(data, size) {}
  // Any contiguous run of bytes that knows its size: arrays, vectors, spans.
  template <std::ranges::contiguous_range Bytes>
  requires std::same_as<std::remove_cv_t<std::ranges::range_value_t<Bytes>>, uint8_t>
  constexpr ByteView(const Bytes& bytes) : bytes_(std::ranges::data(bytes), std::ranges::size(bytes)) {}

  constexpr size_t size() const { return bytes_.size(); }
  constexpr bool empty() const { return bytes_.empty(); }
  constexpr const uint8_t* data() const { return bytes_.data(); }
  constexpr std::span<const uint8_t> span() const { return bytes_; }

  // True when [offset, offset + length) lies inside the view.
  constexpr bool Has(size_t offset, size_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }

  // The bytes [offset, offset + length), cut to what the view holds (empty
  // when offset is past the end).
  constexpr ByteView Sub(size_t offset, size_t length = SIZE_MAX) const {
    if (offset >= bytes_.size()) return {};
    size_t left = bytes_.size() - offset;
    return ByteView(bytes_.subspan(offset, length < left ? length : left));
  }

  constexpr uint8_t U8(size_t offset) const { return offset < bytes_.size() ? bytes_[offset] : 0; }

  // Little- and big-endian unsigned integers of sizeof(T) bytes; 0 when the
  // field does not fit.
  template <typename T>
  constexpr T LeAt(size_t offset) const {
    static_assert(std::is_unsigned_v<T>);
    if (!Has(offset, sizeof(T))) return 0;
    if (!std::is_constant_evaluated() && std::endian::native == std::endian::little) {
      // One load: the compiler leaves the byte loop below as a loop, and
      // sweeps read several fields of every sector.
      T value;
      std::memcpy(&value, bytes_.data() + offset, sizeof(T));
      return value;
    }
    T value = 0;
    for (size_t i = sizeof(T); i-- > 0;) value = static_cast<T>((value << 8) | bytes_[offset + i]);
    return value;
  }
  template <typename T>
  constexpr T BeAt(size_t offset) const {
    static_assert(std::is_unsigned_v<T>);
    if (!Has(offset, sizeof(T))) return 0;
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value = static_cast<T>((value << 8) | bytes_[offset + i]);
    return value;
  }
  constexpr uint16_t Le16(size_t offset) const { return LeAt<uint16_t>(offset); }
  constexpr uint32_t Le32(size_t offset) const { return LeAt<uint32_t>(offset); }
  constexpr uint64_t Le64(size_t offset) const { return LeAt<uint64_t>(offset); }
  constexpr uint16_t Be16(size_t offset) const { return BeAt<uint16_t>(offset); }
  constexpr uint32_t Be32(size_t offset) const { return BeAt<uint32_t>(offset); }
  constexpr uint64_t Be64(size_t offset) const { return BeAt<uint64_t>(offset); }

  // Little-endian unsigned integer of `width` bytes (0..8), as run lists and
  // similar variable-width fields store them; 0 when it does not fit.
  constexpr uint64_t LeVar(size_t offset, size_t width) const {
    if (width > 8 || !Has(offset, width)) return 0;
    uint64_t value = 0;
    for (size_t i = width; i-- > 0;) value = (value << 8) | bytes_[offset + i];
    return value;
  }

  // True when the bytes at offset equal text (no terminator compared).
  constexpr bool Matches(size_t offset, std::string_view text) const {
    if (!Has(offset, text.size())) return false;
    for (size_t i = 0; i < text.size(); ++i)
      if (bytes_[offset + i] != static_cast<uint8_t>(text[i])) return false;
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
};

}  // namespace quorvel
