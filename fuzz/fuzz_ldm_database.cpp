// The whole dynamic-disk path over a disk made around the input, which is the
// disk's database area from its start (tables of contents, database header,
// record slots): the partition walk meets the MBR entry of type 0x42, reads
// the three private header copies and the database header, then the group is
// assembled from the records, its volumes are built, the disk is linked into
// them and the readable ones are opened and recognised.
//
// The disk: 50 MiB as Windows lays out a small one, an MBR entry of type 0x42
// over all of it, the data area from sector 63, the 1 MiB database area at its
// end. The private header is the input's first sector (the area's first
// sector, which Windows leaves empty) with its magic, version and the disk's
// layout set, so the disk and group identities come from the input and its
// disk records can name this disk. Its copies at the area's end are written
// over the input.
#include <algorithm>
#include <cstring>

#include "fuzz_image_file.h"
#include "volumes/disk_enumeration.h"
#include "volumes/ldm/ldm_private_header_layout.h"

using namespace quorvel;

namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kDiskSectors = 102400;
constexpr uint64_t kDataStart = 63;
constexpr uint64_t kAreaSectors = 2048;
constexpr uint64_t kAreaStart = kDiskSectors - kAreaSectors;
constexpr uint64_t kDataSectors = kAreaStart - kDataStart;
// Where Windows keeps the private header's copies.
constexpr uint64_t kHeaderCopies[] = {6, kDiskSectors - 192, kDiskSectors - 1};

void MakePrivateHeader(const uint8_t* data, size_t size, uint8_t* header) {
  namespace L = LdmPrivateHeader;
  std::memcpy(header, data, std::min<size_t>(size, L::kSize));
  std::memcpy(header + L::kMagic, "PRIVHEAD", 8);
  fuzz::PutBe(header + L::kVersionMajor, 2, 2);
  fuzz::PutBe(header + L::kVersionMinor, 12, 2);
  fuzz::PutBe(header + L::kLogicalDiskStart, kDataStart, 8);
  fuzz::PutBe(header + L::kLogicalDiskSize, kDataSectors, 8);
  fuzz::PutBe(header + L::kConfigStart, kAreaStart, 8);
  fuzz::PutBe(header + L::kConfigSize, kAreaSectors, 8);
}

void MakeMbr(uint8_t* mbr) {
  uint8_t* entry = mbr + 446;
  entry[4] = 0x42;
  fuzz::PutLe(entry + 8, kDataStart, 4);
  fuzz::PutLe(entry + 12, kDiskSectors - kDataStart, 4);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ImageFile image;
  size = std::min<size_t>(size, kAreaSectors * kSector);
  image.Reset(kDiskSectors * kSector);
  uint8_t mbr[kSector] = {};
  MakeMbr(mbr);
  image.Write(0, mbr);
  image.Write(kAreaStart * kSector, std::span<const uint8_t>(data, size));
  uint8_t header[kSector] = {};
  MakePrivateHeader(data, size, header);
  for (uint64_t sector : kHeaderCopies) image.Write(sector * kSector, header);

  DiskList list;
  OpenImageFile(list, image.path());
  return 0;
}
