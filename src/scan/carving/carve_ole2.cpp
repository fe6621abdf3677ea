// Compound documents (Word, Excel and PowerPoint files of Office 97-2003): the
// kind comes from the stream names of the first directory sector, or else,
// with a title or author for the name, from the summary information.
#include <string>

#include "platform/text.h"
#include "scan/carving/carvers.h"
#include "scan/carving/ole2_directory_entry_layout.h"
#include "scan/carving/ole2_header_layout.h"
#include "scan/carving/ole2_property_set_layout.h"

namespace quorvel {

namespace {

namespace Entry = Ole2DirectoryEntry;
namespace Section = Ole2PropertySection;
namespace Value = Ole2PropertyValue;

constexpr size_t kEntriesRead = 8;
constexpr size_t kPropertyBytes = 1024;
constexpr uint32_t kLargestOffset = 976;
constexpr uint32_t kLongestValue = 2048;
constexpr uint16_t kUtf16CodePage = 1200;
constexpr uint16_t kUtf8CodePage = 65001;

// The header's sector size: version 4 documents use 4096-byte sectors.
uint64_t SectorSizeOf(ByteView header) {
  return header.Le16(Ole2Header::kMajorVersion) == 4 && header.Le16(Ole2Header::kSectorShift) == 12 ? 4096 : 512;
}

bool NameStarts(ByteView entry, char16_t a, char16_t b, char16_t c, char16_t d) {
  return entry.Le16(Entry::kName) == a && entry.Le16(Entry::kName + 2) == b && entry.Le16(Entry::kName + 4) == c &&
         entry.Le16(Entry::kName + 6) == d;
}

// What the first directory sector says: a kind from a stream name, and where
// the summary information and the root entry's stream start (sector + 1).
struct DirectoryHints {
  std::string extension;
  uint32_t summary = 0;
  uint32_t root = 0;
};

DirectoryHints ReadDirectoryHints(ByteView entries) {
  DirectoryHints hints;
  for (size_t i = 0; i < kEntriesRead; ++i) {
    const ByteView entry = entries.Sub(i * Entry::kSize, Entry::kSize);
    const uint32_t noted = entry.Le32(Entry::kStartSector) + 1;
    if (NameStarts(entry, 'W', 'o', 'r', 'k')) hints.extension = "xls";
    if (NameStarts(entry, 'W', 'o', 'r', 'd')) hints.extension = "doc";
    if (NameStarts(entry, 'P', 'o', 'w', 'e')) hints.extension = "ppt";
    if (NameStarts(entry, 5, 'S', 'u', 'm')) hints.summary = noted;
    if (NameStarts(entry, 'R', 'o', 'o', 't')) hints.root = noted;
  }
  return hints;
}

bool Usable(uint32_t noted) { return noted != 0 && noted < Ole2Header::kFirstSpecialSector; }

struct SummaryTexts {
  std::string title, author, application;
};

// A string value as the property set's code page stores it, up to its NUL.
std::string DecodeText(ByteView chars, uint16_t codePage) {
  if (codePage == kUtf16CodePage) return Utf16LeToUtf8(chars.Sub(0, chars.size() / 2 * 2));
  size_t length = 0;
  while (length < chars.size() && chars.U8(length) != 0) ++length;
  const std::string_view bytes(reinterpret_cast<const char*>(chars.data()), length);
  if (codePage == kUtf8CodePage && IsValidUtf8(bytes)) return std::string(bytes);
  return Cp936ToUtf8(bytes);
}

// Title, author and application name of a summary-information property
// set. False when the set breaks one of its limits. No value is read past
// the bytes given.
bool ReadSummary(ByteView set, SummaryTexts& out) {
  const ByteView section = set.Sub(Ole2PropertySet::kSection);
  const uint64_t count = section.Le32(Section::kPropertyCount);
  const uint64_t pairsEnd = Ole2PropertySet::kSection + Section::kPairs + count * Section::kPairSize;
  if (pairsEnd + Section::kPairOffset >= kPropertyBytes) return false;
  ByteView title, author, application;
  uint16_t codePage = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const ByteView pair = section.Sub(Section::kPairs + i * Section::kPairSize);
    const uint32_t id = pair.Le32(Section::kPairId);
    // Only the values read are checked: dates and counts have no length.
    if (id != Section::kCodePageId && id != Section::kTitleId && id != Section::kAuthorId &&
        id != Section::kApplicationId)
      continue;
    const uint32_t offset = pair.Le32(Section::kPairOffset);
    if (offset > kLargestOffset) return false;
    const ByteView value = section.Sub(offset);
    if (id == Section::kCodePageId) {
      codePage = value.Le16(Value::kInteger);
      continue;
    }
    const uint32_t length = value.Le32(Value::kStringLength);
    if (length > kLongestValue) return false;
    const ByteView chars = value.Sub(Value::kString, length);
    if (id == Section::kTitleId) title = chars;
    if (id == Section::kAuthorId) author = chars;
    if (id == Section::kApplicationId) application = chars;
  }
  out.title = DecodeText(title, codePage);
  out.author = DecodeText(author, codePage);
  out.application = DecodeText(application, codePage);
  return true;
}

// Titles and authors become file names: nothing in them may lead out of the
// target folder or break a line.
std::string RepairedName(const std::string& text) {
  std::string out;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool bad = u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
    out += bad ? '$' : c;
  }
  if (out == "." || out == "..") out.assign(out.size(), '$');
  return out;
}

const char* ExtensionOfApplication(const std::string& application) {
  if (application == "Microsoft Office Word") return "doc";
  if (application == "Microsoft Excel") return "xls";
  if (application == "Microsoft Office PowerPoint") return "ppt";
  return nullptr;
}

}  // namespace

bool IsCompoundDocumentStart(ByteView head) {
  return head.Matches(Ole2Header::kSignature, Ole2Header::kSignatureBytes);
}

CarveFinding CarveCompoundDocument(const CarveInput& input) {
  const ByteView header = input.head;
  const uint64_t sectorSize = SectorSizeOf(header);
  const uint64_t base = input.startSector * kDefaultSectorSize;
  uint8_t bytes[kPropertyBytes];
  // Sector n of the document lies after the one-sector header.
  input.source.ReadAt(base + (uint64_t{header.Le32(Ole2Header::kFirstDirectorySector)} + 1) * sectorSize, bytes);
  const DirectoryHints hints = ReadDirectoryHints(ByteView(bytes, sizeof bytes));

  std::string extension = hints.extension;
  SummaryTexts texts;
  if (extension.empty()) {
    const uint32_t noted = Usable(hints.summary) ? hints.summary : hints.root;
    if (!Usable(noted)) return {};
    input.source.ReadAt(base + uint64_t{noted} * sectorSize, bytes);
    if (!ReadSummary(ByteView(bytes, sizeof bytes), texts)) return {};
    const char* kind = ExtensionOfApplication(texts.application);
    if (!kind) return {};
    extension = kind;
  }
  // Every FAT sector maps sectorSize / 4 sectors.
  CarveFinding finding =
      Found(uint64_t{header.Le32(Ole2Header::kFatSectorCount)} * (sectorSize / 4) * sectorSize, extension);
  const std::string title = RepairedName(texts.title);
  finding.stem = !title.empty() ? title : RepairedName(texts.author) + std::to_string(input.startSector);
  return finding;
}

}  // namespace quorvel
