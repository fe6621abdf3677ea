// The whole LVM2 path over a physical volume made around the input, whose
// first line is the label's physical-volume UUID and the rest the metadata
// text: the partition walk meets the label, reads the metadata area's header
// and the text, parses the volume group, maps the logical volumes onto the
// disk and opens and recognises the ones it can read.
//
// The disk: 64 MiB, the label in sector 1, a 1 MiB metadata area at 4 KiB.
// A text of even length lies right behind the area's header; one of odd
// length is placed so that it runs past the area's end and goes on behind
// the header, as LVM writes a text that reaches the end.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "fuzz_image_file.h"
#include "volumes/disk_enumeration.h"
#include "volumes/lvm2/lvm_label_layout.h"
#include "volumes/lvm2/lvm_metadata_header_layout.h"

using namespace quorvel;

namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kDiskBytes = 64ull << 20;
constexpr uint64_t kAreaStart = 4096;
constexpr uint64_t kAreaSize = 1 << 20;

void MakeLabel(std::string_view uuid, uint8_t* label) {
  namespace L = LvmLabel;
  std::memcpy(label + L::kMagic, "LABELONE", 8);
  fuzz::PutLe(label + L::kSectorNumber, 1, 8);
  fuzz::PutLe(label + L::kContentOffset, L::kPvUuid, 4);
  std::memcpy(label + L::kType, "LVM2 001", 8);
  std::memcpy(label + L::kPvUuid, uuid.data(), std::min(uuid.size(), L::kPvUuidLength));
  fuzz::PutLe(label + L::kDeviceSize, kDiskBytes, 8);
  fuzz::PutLe(label + L::kFirstDataArea, kAreaStart + kAreaSize, 8);
  fuzz::PutLe(label + L::kFirstMetadataOffset, kAreaStart, 8);
  fuzz::PutLe(label + L::kFirstMetadataSize, kAreaSize, 8);
}

void MakeAreaHeader(uint64_t textOffset, uint64_t textLength, uint8_t* header) {
  namespace H = LvmMetadataHeader;
  std::memcpy(header + H::kMagic, H::kMagicText.data(), H::kMagicText.size());
  fuzz::PutLe(header + H::kVersion, 1, 4);
  fuzz::PutLe(header + H::kAreaStart, kAreaStart, 8);
  fuzz::PutLe(header + H::kAreaSize, kAreaSize, 8);
  fuzz::PutLe(header + H::kTextOffset, textOffset, 8);
  fuzz::PutLe(header + H::kTextLength, textLength, 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ImageFile image;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t newline = std::min(input.find('\n'), input.size());
  const std::string_view uuid = input.substr(0, newline);
  std::string_view text = input.substr(std::min(newline + 1, input.size()));
  text = text.substr(0, kAreaSize - kSector);

  image.Reset(kDiskBytes);
  uint8_t label[kSector] = {};
  MakeLabel(uuid, label);
  image.Write(kSector, label);
  const uint64_t roomAtEnd = (text.size() / 2 + kSector - 1) / kSector * kSector;
  const uint64_t textOffset = text.size() % 2 == 0 || roomAtEnd == 0 ? kSector : kAreaSize - roomAtEnd;
  uint8_t header[kSector] = {};
  MakeAreaHeader(textOffset, text.size(), header);
  image.Write(kAreaStart, header);
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const size_t first = std::min<size_t>(text.size(), kAreaSize - textOffset);
  image.Write(kAreaStart + textOffset, std::span<const uint8_t>(bytes, first));
  image.Write(kAreaStart + kSector, std::span<const uint8_t>(bytes + first, text.size() - first));

  DiskList list;
  OpenImageFile(list, image.path());
  return 0;
}
