// ZIP and the Office Open XML files built on it: the archive is walked record
// by record to its end-of-central-directory record. The central directory
// tells a Word, Excel or PowerPoint file by the folder its parts live in.
#include <string>

#include "scan/carving/carve_window.h"
#include "scan/carving/carvers.h"
#include "scan/carving/zip_central_header_layout.h"
#include "scan/carving/zip_data_descriptor_layout.h"
#include "scan/carving/zip_end_of_directory_layout.h"
#include "scan/carving/zip_local_header_layout.h"

namespace quorvel {

namespace {

namespace Local = ZipLocalHeader;
namespace Central = ZipCentralHeader;
namespace End = ZipEndOfDirectory;
namespace Descriptor = ZipDataDescriptor;

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

bool IsZipStart(ByteView head) { return head.Le32(Local::kSignature) == Local::kSignatureValue; }

CarveFinding CarveZip(const CarveInput& input) {
  CarveWindow window(input.source, input.startSector, input.head);
  std::string extension;
  uint64_t position = 0;
  while (position < kCarveArchiveLimit) {
    const ByteView at = window.At(position);
    // Every record starts with "PK" and two bytes that tell its kind.
    if (!at.Matches(Local::kSignature, "PK")) return {};
    switch (at.Le32(Local::kSignature)) {
      case Local::kSignatureValue:
        position += Local::kFixedSize + uint64_t{at.Le16(Local::kNameLength)} + at.Le16(Local::kExtraLength) +
                    at.Le32(Local::kCompressedSize);
        break;
      case Central::kSignatureValue: {
        const uint16_t nameLength = at.Le16(Central::kNameLength);
        if (const char* office = OfficeExtension(at.Sub(Central::kName, nameLength))) extension = office;
        position += Central::kFixedSize + uint64_t{nameLength} + at.Le16(Central::kExtraLength) +
                    at.Le16(Central::kCommentLength);
        break;
      }
      case End::kSignatureValue: {
        const uint64_t size = position + End::kFixedSize + at.Le16(End::kCommentLength);
        // An Office file names "[Content_Types].xml" first; one that names
        // none of the three folders keeps no extension at all.
        if (!input.head.Matches(Local::kName, kContentTypes)) extension = "zip";
        return Found(size, extension);
      }
      case Descriptor::kSignatureValue:
        // A signature right behind it: this one stood alone.
        position += at.Matches(Descriptor::kCrc, "PK") ? Descriptor::kCrc : Descriptor::kSize;
        break;
      default:
        position += 4;
    }
  }
  return {};
}

}  // namespace quorvel
