// ZIP and the Office Open XML files built on it: the archive is walked record
// by record to its end-of-central-directory record. The central directory
// tells a Word, Excel or PowerPoint file by the folder its parts live in.
#include <string>

#include "scan/carving/carve_window.h"
#include "scan/carving/carvers.h"

namespace quorvel {

namespace {

constexpr uint32_t kLocalHeader = 0x04034B50;
constexpr uint32_t kCentralHeader = 0x02014B50;
constexpr uint32_t kEndOfDirectory = 0x06054B50;
constexpr uint32_t kDataDescriptor = 0x08074B50;
constexpr char kContentTypes[] = "[Content_Types].xml";

// The Office kind named by an entry's name up to its first "/", or null.
const char* OfficeExtension(ByteView name) {
  size_t top = 0;
  while (top < name.size() && name.U8(top) != '/') ++top;
  const std::string_view part(reinterpret_cast<const char*>(name.data()), top);
  if (part == "xl") return "xlsx";
  if (part == "ppt") return "pptx";
  if (part == "word") return "docx";
  return nullptr;
}

}  // namespace

bool IsZipStart(ByteView head) { return head.Le32(0) == kLocalHeader; }

CarveFinding CarveZip(const CarveInput& input) {
  CarveWindow window(input.source, input.startSector, input.head);
  std::string extension;
  uint64_t position = 0;
  while (position < kCarveArchiveLimit) {
    const ByteView at = window.At(position);
    if (!at.Matches(0, "PK")) return {};
    switch (at.Le32(0)) {
      case kLocalHeader:
        position += 30 + uint64_t{at.Le16(26)} + at.Le16(28) + at.Le32(18);
        break;
      case kCentralHeader: {
        const uint16_t nameLength = at.Le16(28);
        if (const char* office = OfficeExtension(at.Sub(46, nameLength))) extension = office;
        position += 46 + uint64_t{nameLength} + at.Le16(30) + at.Le16(32);
        break;
      }
      case kEndOfDirectory: {
        const uint64_t size = position + 22 + at.Le16(20);
        // An Office file names "[Content_Types].xml" first; one that names
        // none of the three folders keeps no extension at all.
        if (!input.head.Matches(30, kContentTypes)) extension = "zip";
        return Found(size, extension);
      }
      case kDataDescriptor:
        position += at.Matches(4, "PK") ? 4 : 16;
        break;
      default:
        position += 4;
    }
  }
  return {};
}

}  // namespace quorvel
