// Compound documents (Word, Excel and PowerPoint files of Office 97-2003): the
// kind comes from the stream names of the first directory sector, or else,
// with a title or author for the name, from the summary information.
#include <string>

#include "platform/text.h"
#include "scan/carving/carvers.h"

namespace quorvel {

namespace {

constexpr std::string_view kSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr size_t kEntrySize = 128;
constexpr size_t kEntriesRead = 8;
constexpr size_t kEntryStartSector = 116;
constexpr uint32_t kFirstSpecialSector = 0xFFFFFFA0;  // and above: free, end of chain, ...
constexpr size_t kPropertyBytes = 1024;
constexpr size_t kSectionBase = 48;  // the one section of a summary-information stream
constexpr uint32_t kLargestOffset = 976;
constexpr uint32_t kLongestValue = 2048;
constexpr uint32_t kCodePage = 1;
constexpr uint32_t kTitle = 2;
constexpr uint32_t kAuthor = 4;
constexpr uint32_t kApplication = 18;
constexpr uint16_t kUtf16CodePage = 1200;
constexpr uint16_t kUtf8CodePage = 65001;

// The header's sector size: version 4 documents use 4096-byte sectors.
uint64_t SectorSizeOf(ByteView header) { return header.Le16(0x1A) == 4 && header.Le16(0x1E) == 12 ? 4096 : 512; }

bool NameStarts(ByteView entry, char16_t a, char16_t b, char16_t c, char16_t d) {
  return entry.Le16(0) == a && entry.Le16(2) == b && entry.Le16(4) == c && entry.Le16(6) == d;
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
    const ByteView entry = entries.Sub(i * kEntrySize, kEntrySize);
    const uint32_t noted = entry.Le32(kEntryStartSector) + 1;
    if (NameStarts(entry, 'W', 'o', 'r', 'k')) hints.extension = "xls";
    if (NameStarts(entry, 'W', 'o', 'r', 'd')) hints.extension = "doc";
    if (NameStarts(entry, 'P', 'o', 'w', 'e')) hints.extension = "ppt";
    if (NameStarts(entry, 5, 'S', 'u', 'm')) hints.summary = noted;
    if (NameStarts(entry, 'R', 'o', 'o', 't')) hints.root = noted;
  }
  return hints;
}

bool Usable(uint32_t noted) { return noted != 0 && noted < kFirstSpecialSector; }

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
  const uint64_t count = set.Le32(52);
  if (count * 8 + 60 >= kPropertyBytes) return false;
  ByteView title, author, application;
  uint16_t codePage = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const uint32_t id = set.Le32(56 + i * 8);
    // Only the values read are checked: dates and counts have no length.
    if (id != kCodePage && id != kTitle && id != kAuthor && id != kApplication) continue;
    const uint32_t offset = set.Le32(60 + i * 8);
    if (offset > kLargestOffset) return false;
    const ByteView value = set.Sub(kSectionBase + offset);
    if (id == kCodePage) {
      codePage = value.Le16(4);
      continue;
    }
    const uint32_t length = value.Le32(4);
    if (length > kLongestValue) return false;
    const ByteView chars = value.Sub(8, length);
    if (id == kTitle) title = chars;
    if (id == kAuthor) author = chars;
    if (id == kApplication) application = chars;
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

bool IsCompoundDocumentStart(ByteView head) { return head.Matches(0, kSignature); }

CarveFinding CarveCompoundDocument(const CarveInput& input) {
  const ByteView header = input.head;
  const uint64_t sectorSize = SectorSizeOf(header);
  const uint64_t base = input.startSector * kDefaultSectorSize;
  uint8_t bytes[kPropertyBytes];
  // Sector n of the document lies after the one-sector header.
  input.source.ReadAt(base + (uint64_t{header.Le32(0x30)} + 1) * sectorSize, bytes);
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
  CarveFinding finding = Found(uint64_t{header.Le32(0x2C)} * (sectorSize / 4) * sectorSize, extension);
  const std::string title = RepairedName(texts.title);
  finding.stem = !title.empty() ? title : RepairedName(texts.author) + std::to_string(input.startSector);
  return finding;
}

}  // namespace quorvel
