#pragma once
// Byte builders for the content types carving knows, for the sizes and
// structures real tools do not make on request (exact thresholds, odd end
// markers, RAR archives).
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "io/byte_source.h"
#include "model/disk_records.h"
#include "scan/carving/carve_at.h"

namespace quorvel::test {

using Bytes = std::vector<uint8_t>;

inline void PutLe16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutBe16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}
inline void PutBe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
inline void Append(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }

// An image of `sectors` zero sectors with `file` planted at `sector`.
inline Bytes ImageWith(const Bytes& file, uint64_t sector, uint64_t sectors) {
  Bytes image(sectors * 512, 0);
  if (sector * 512 + file.size() > image.size()) image.resize(sector * 512 + file.size() + 1024, 0);
  std::memcpy(image.data() + sector * 512, file.data(), file.size());
  return image;
}

// CarveAt on the sector of an image, the range being the whole image.
inline CarveResult CarveImage(DiskRecord& disk, const Bytes& image, uint64_t sector) {
  MemorySource source(image);
  CarveScratch scratch;
  Bytes head(kCarveHeadBytes, 0);
  std::memcpy(head.data(), image.data() + sector * 512, std::min<size_t>(head.size(), image.size() - sector * 512));
  return CarveAt(disk, source, head.data(), sector, image.size() / 512, scratch);
}

// MPEG-1 program stream of exactly `size` bytes (at least 40): pack header,
// system header, video packets; with an end code when `endCode`.
inline Bytes MpegStream(size_t size, bool endCode = true) {
  Bytes b = {0, 0, 1, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0, 1};
  Bytes system = {0, 0, 1, 0xBB, 0, 6, 0x80, 0, 1, 0x04, 0xE1, 0xFF};
  Append(b, system);
  const size_t tail = endCode ? 4 : 0;
  while (b.size() + tail < size) {
    const size_t room = size - tail - b.size();  // at least 6
    size_t payload = room - 6;
    if (payload > 0xFFFF) {
      payload = 0xFFFF;
      if (room - 6 - payload < 6) payload -= 6;  // what is left must hold a packet
    }
    Bytes packet = {0, 0, 1, 0xE0, 0, 0};
    PutBe16(packet, 4, static_cast<uint16_t>(payload));
    packet.resize(6 + payload, 0x11);
    Append(b, packet);
  }
  if (endCode) Append(b, Bytes{0, 0, 1, 0xB9});
  return b;
}

// MP4 of exactly `size` bytes: ftyp, free, mdat.
inline Bytes Mp4File(size_t size) {
  Bytes b(24, 0);
  PutBe32(b, 0, 24);
  std::memcpy(&b[4], "ftypisom\0\0\x02\0isomiso2", 20);
  Bytes freeBox(8, 0);
  PutBe32(freeBox, 0, 8);
  std::memcpy(&freeBox[4], "free", 4);
  Append(b, freeBox);
  Bytes mdat(size - b.size(), 0x22);
  PutBe32(mdat, 0, static_cast<uint32_t>(mdat.size()));
  std::memcpy(&mdat[4], "mdat", 4);
  Append(b, mdat);
  return b;
}

// AVI whose RIFF size field is `riffSize` (file: riffSize + 8 bytes).
inline Bytes AviFile(uint32_t riffSize) {
  Bytes b(size_t{riffSize} + 8, 0x33);
  std::memcpy(&b[0], "RIFF", 4);
  PutLe32(b, 4, riffSize);
  std::memcpy(&b[8], "AVI LIST", 8);
  return b;
}

// MPEG-1 Layer III frames at 128 kbit/s, 44.1 kHz: 417 bytes, 418 padded.
inline Bytes Mp3Frames(size_t plain, size_t padded) {
  Bytes b;
  auto frame = [&](bool pad) {
    Bytes f(pad ? 418 : 417, 0x44);
    f[0] = 0xFF;
    f[1] = 0xFB;
    f[2] = pad ? 0x92 : 0x90;
    f[3] = 0x00;
    Append(b, f);
  };
  for (size_t i = 0; i < plain; ++i) frame(false);
  for (size_t i = 0; i < padded; ++i) frame(true);
  return b;
}

inline Bytes Id3v2Tag(uint32_t payload) {
  Bytes b = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
  b[6] = (payload >> 21) & 0x7F;
  b[7] = (payload >> 14) & 0x7F;
  b[8] = (payload >> 7) & 0x7F;
  b[9] = payload & 0x7F;
  b.resize(10 + payload, 0);
  return b;
}

// A JFIF header ending in its start of scan (which lies in the first sector).
inline Bytes JpegHeader(bool exif = false) {
  Bytes b = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
  if (exif) {
    b[3] = 0xE1;
    std::memcpy(&b[6], "Exif", 4);
  }
  Append(b, Bytes{0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
  return b;
}

// A stored ZIP archive with the given entries, in order.
inline Bytes ZipArchive(const std::vector<std::pair<std::string, std::string>>& entries) {
  Bytes out, central;
  for (const auto& [name, data] : entries) {
    Bytes local(30, 0);
    PutLe32(local, 0, 0x04034B50);
    PutLe16(local, 4, 10);
    PutLe32(local, 18, static_cast<uint32_t>(data.size()));
    PutLe32(local, 22, static_cast<uint32_t>(data.size()));
    PutLe16(local, 26, static_cast<uint16_t>(name.size()));
    Bytes header(46, 0);
    PutLe32(header, 0, 0x02014B50);
    PutLe16(header, 6, 10);
    PutLe32(header, 20, static_cast<uint32_t>(data.size()));
    PutLe32(header, 24, static_cast<uint32_t>(data.size()));
    PutLe16(header, 28, static_cast<uint16_t>(name.size()));
    PutLe32(header, 42, static_cast<uint32_t>(out.size()));
    Append(out, local);
    Append(out, name);
    Append(out, data);
    Append(central, header);
    Append(central, name);
  }
  Bytes end(22, 0);
  PutLe32(end, 0, 0x06054B50);
  PutLe16(end, 8, static_cast<uint16_t>(entries.size()));
  PutLe16(end, 10, static_cast<uint16_t>(entries.size()));
  PutLe32(end, 12, static_cast<uint32_t>(central.size()));
  PutLe32(end, 16, static_cast<uint32_t>(out.size()));
  Append(out, central);
  Append(out, end);
  return out;
}

// A RAR 4 archive: marker, main header, one file of `packed` bytes, end.
inline Bytes RarArchive(uint32_t packed) {
  Bytes b = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
  Bytes main(13, 0);
  main[2] = 0x73;
  PutLe16(main, 5, 13);
  Append(b, main);
  const std::string name = "notes.txt";
  Bytes file(32 + name.size(), 0);
  file[2] = 0x74;
  PutLe16(file, 3, 0x8000);
  PutLe16(file, 5, static_cast<uint16_t>(file.size()));
  PutLe32(file, 7, packed);
  PutLe32(file, 11, packed);
  PutLe16(file, 26, static_cast<uint16_t>(name.size()));
  std::memcpy(&file[32], name.data(), name.size());
  Append(b, file);
  b.resize(b.size() + packed, 0x5A);
  Append(b, Bytes{0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00});
  return b;
}

}  // namespace quorvel::test
