#pragma once
// The ID3v1 tag that may follow an MP3 file's last frame: 128 bytes starting
// with "TAG".
#include <cstddef>
#include <cstdint>

namespace quorvel::Id3v1Tag {

constexpr size_t kMagic = 0;  // "TAG"
constexpr uint64_t kSize = 128;

}  // namespace quorvel::Id3v1Tag
