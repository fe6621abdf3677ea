// Signature carving on crafted bytes: the size thresholds, end markers, name
// rules and limits where a carver goes wrong most easily.
#include <gtest/gtest.h>

#include "carving_crafting.h"
#include "platform/text.h"
#include "scan/carving/carve_at.h"

namespace quorvel {
namespace {

using test::Append;
using test::Bytes;
using test::CarveImage;
using test::ImageWith;
using test::PutBe16;
using test::PutLe16;
using test::PutLe32;

constexpr uint64_t kAt = 8;  // planted at sector 8
constexpr size_t kMiB = 0x100000;

// The carved file at kAt, or null.
const CarvedFile* Carved(const DiskRecord& disk, uint64_t sector = kAt) {
  auto it = disk.carvedFiles.find(sector);
  return it == disk.carvedFiles.end() ? nullptr : &it->second;
}

// Carves `file` planted at kAt in an otherwise zero image.
const CarvedFile* CarveFile(DiskRecord& disk, const Bytes& file, CarveResult* result = nullptr) {
  // Room behind the file for the sizes compound documents claim.
  Bytes image = ImageWith(file, kAt, kAt + file.size() / 512 + 300);
  CarveResult r = CarveImage(disk, image, kAt);
  if (result) *result = r;
  return Carved(disk);
}

TEST(CarveThresholds, MediaOfExactly1MiBAreNotCarvedOneByteMoreAre) {
  struct Case {
    const char* name;
    Bytes exact, larger;
    uint64_t largerSize;
  };
  const Case cases[] = {
      {"mpeg", test::MpegStream(kMiB), test::MpegStream(kMiB + 1), kMiB + 1},
      {"mpeg without end code", test::MpegStream(kMiB, false), test::MpegStream(kMiB + 1, false), kMiB + 1},
      {"mp4", test::Mp4File(kMiB), test::Mp4File(kMiB + 1), kMiB + 1},
      // The AVI limit is on the RIFF size field; the file is 8 bytes longer.
      {"avi", test::AviFile(kMiB), test::AviFile(kMiB + 1), kMiB + 1 + 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DiskRecord disk;
    CarveResult result;
    EXPECT_EQ(CarveFile(disk, c.exact, &result), nullptr);
    EXPECT_TRUE(result.matched);
    EXPECT_EQ(result.carvedLength, 0u);
    const CarvedFile* file = CarveFile(disk, c.larger, &result);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->size, c.largerSize);
    EXPECT_EQ(result.carvedLength, c.largerSize);
    EXPECT_EQ(file->name, std::to_string(kAt) + "." + (std::string(c.name).substr(0, 4) == "mpeg" ? "mpeg" : c.name));
  }
}

// A stream of frames with the given header bytes and frame length.
Bytes Frames(uint8_t b1, uint8_t b2, size_t length, size_t count) {
  Bytes out;
  for (size_t i = 0; i < count; ++i) {
    Bytes f(length, 0x66);
    f[0] = 0xFF;
    f[1] = b1;
    f[2] = b2;
    Append(out, f);
  }
  return out;
}

TEST(CarveMp3, FrameTablesAndThe1MiBLimit) {
  // 2276 frames of 417 bytes and 238 of 418 end exactly at 1 MiB.
  DiskRecord disk;
  EXPECT_EQ(CarveFile(disk, test::Mp3Frames(2276, 238)), nullptr);
  const CarvedFile* one = CarveFile(disk, test::Mp3Frames(2277, 238));
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->size, kMiB + 417);
  EXPECT_EQ(one->name, "8.mp3");

  // An ID3v2 tag in front and an ID3v1 tag behind both belong to the file.
  Bytes tagged = test::Id3v2Tag(700);
  Append(tagged, test::Mp3Frames(2600, 0));
  Bytes v1(128, 0);
  std::memcpy(v1.data(), "TAG", 3);
  Append(tagged, v1);
  DiskRecord disk2;
  const CarvedFile* withTags = CarveFile(disk2, tagged);
  ASSERT_NE(withTags, nullptr);
  EXPECT_EQ(withTags->size, tagged.size());

  // The other versions and layers: MPEG-2 Layer III (72 × bitrate / rate),
  // MPEG-1 Layer II, MPEG-1 Layer I (4-byte slots), MPEG-2.5 Layer III.
  struct Table {
    const char* name;
    uint8_t b1, b2;
    size_t length;
  };
  const Table tables[] = {
      {"MPEG-2 L3 64k 22.05k", 0xF3, 0x80, 72 * 64000 / 22050},
      {"MPEG-1 L2 192k 48k", 0xFD, 0xA4, 144 * 192000 / 48000},
      {"MPEG-1 L1 384k 44.1k", 0xFF, 0xC0, (12 * 384000 / 44100) * 4},
      {"MPEG-2.5 L3 64k 8k", 0xE3, 0x88, 72 * 64000 / 8000},
  };
  for (const Table& t : tables) {
    SCOPED_TRACE(t.name);
    DiskRecord d;
    const size_t count = kMiB / t.length + 1;
    const CarvedFile* file = CarveFile(d, Frames(t.b1, t.b2, t.length, count));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->size, count * t.length);
  }
  // Free format (bitrate index 0) and the reserved version stop the walk at once.
  DiskRecord d;
  EXPECT_EQ(CarveFile(d, Frames(0xFB, 0x00, 417, 3000)), nullptr);
  EXPECT_EQ(CarveFile(d, Frames(0xEB, 0x90, 417, 3000)), nullptr);
}

// JPEG scan data of `length` bytes after the header, with FF D9 pairs at the
// given offsets (from the start of the file) and `after` written behind each.
Bytes JpegWithMarkers(size_t length, const std::vector<std::pair<size_t, Bytes>>& markers, bool exif = false) {
  Bytes b = test::JpegHeader(exif);
  b.resize(length, 0x5C);
  for (const auto& [at, after] : markers) {
    if (at + 2 + after.size() > b.size()) b.resize(at + 2 + after.size(), 0);
    b[at] = 0xFF;
    b[at + 1] = 0xD9;
    std::copy(after.begin(), after.end(), b.begin() + static_cast<std::ptrdiff_t>(at + 2));
  }
  return b;
}

TEST(CarveJpeg, EndMarkerCountsOnlyWhereTheFileCanEnd) {
  {
    // The first FF D9 is followed by a non-zero byte within 8: an embedded
    // thumbnail's end, not the file's. The search goes on.
    DiskRecord disk;
    Bytes file = JpegWithMarkers(6000, {{2000, Bytes{0, 0, 0x17}}, {5000, {}}});
    file.resize(5002);
    const CarvedFile* jpg = CarveFile(disk, file);
    ASSERT_NE(jpg, nullptr);
    EXPECT_EQ(jpg->size, 5002u);
    EXPECT_EQ(jpg->name, "8.jpg");
  }
  {
    // A file ending exactly at a sector's end, with other data right behind
    // it, ends there.
    DiskRecord disk;
    Bytes file = JpegWithMarkers(3 * 512, {{3 * 512 - 2, {}}}, true);
    Bytes image = ImageWith(file, kAt, 64);
    std::memset(&image[(kAt + 3) * 512], 0x77, 512);
    CarveImage(disk, image, kAt);
    ASSERT_NE(Carved(disk), nullptr);
    EXPECT_EQ(Carved(disk)->size, 3 * 512u);
  }
  {
    // Two bytes from a sector's end: one zero byte among them is enough.
    DiskRecord disk;
    Bytes file = JpegWithMarkers(1022, {{1020 - 2, {0x00, 0x31}}});
    Bytes image = ImageWith(file, kAt, 64);
    std::memset(&image[(kAt + 2) * 512], 0x77, 512);
    CarveImage(disk, image, kAt);
    ASSERT_NE(Carved(disk), nullptr);
    EXPECT_EQ(Carved(disk)->size, 1020u);
  }
  {
    // No end marker in the 10 MiB after the headers, and a progressive
    // (SOF2) header: matched as JPEG, nothing carved.
    DiskRecord disk;
    CarveResult r;
    EXPECT_EQ(CarveFile(disk, JpegWithMarkers(4096, {}), &r), nullptr);
    EXPECT_TRUE(r.matched);
    Bytes progressive = JpegWithMarkers(4096, {{3000, {}}});
    progressive.insert(progressive.begin() + 20, {0xFF, 0xC2, 0x00, 0x02});
    EXPECT_EQ(CarveFile(disk, progressive, &r), nullptr);
    EXPECT_TRUE(r.matched);
  }
}

TEST(CarveZip, OfficeKindsFromTheFirstEntryAndTheFolders) {
  const std::string types = "[Content_Types].xml";
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> entries;
    std::string expected;
  };
  const Case cases[] = {
      {"word", {{types, "x"}, {"_rels/.rels", "r"}, {"word/document.xml", "d"}}, "8.docx"},
      {"other first entry", {{"word/document.xml", "d"}, {types, "x"}}, "8.zip"},
      {"later entry wins", {{types, "x"}, {"ppt/slide.xml", "s"}, {"xl/workbook.xml", "w"}}, "8.xlsx"},
      {"no Office folder", {{types, "x"}, {"content.xml", "c"}}, "8"},
      {"folder named without slash", {{types, "x"}, {"ppt", ""}}, "8.pptx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DiskRecord disk;
    Bytes zip = test::ZipArchive(c.entries);
    const CarvedFile* file = CarveFile(disk, zip);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->name, c.expected);
    EXPECT_EQ(file->size, zip.size());
  }
  // A record that is not "PK" breaks the walk: nothing is carved.
  DiskRecord disk;
  Bytes broken = test::ZipArchive({{"a.txt", "hello"}});
  broken[35 + 5] = 'X';
  EXPECT_EQ(CarveFile(disk, broken), nullptr);
}

TEST(CarveRar, BlocksWalkedToTheEndOfArchive) {
  DiskRecord disk;
  Bytes rar = test::RarArchive(70000);
  const CarvedFile* file = CarveFile(disk, rar);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->size, rar.size());
  EXPECT_EQ(file->name, "8.rar");
  // A block type outside 0x72..0x7B ends the walk without a file.
  DiskRecord disk2;
  rar[7 + 2] = 0x99;
  EXPECT_EQ(CarveFile(disk2, rar), nullptr);
}

TEST(CarvePdf, EndsWithTheFirstEofInTheTenMiBAfterItsFirstSector) {
  DiskRecord disk;
  Bytes pdf;
  Append(pdf, std::string("%PDF-1.5\n"));
  pdf.resize(3000, ' ');
  Append(pdf, std::string("%%EOF\n"));
  const CarvedFile* file = CarveFile(disk, pdf);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->size, 3000u + 5);  // up to and with "%EOF"
  DiskRecord disk2;
  Bytes none;
  Append(none, std::string("%PDF-1.5\n"));
  none.resize(4000, ' ');
  CarveResult r;
  EXPECT_EQ(CarveFile(disk2, none, &r), nullptr);
  EXPECT_TRUE(r.matched);
}

// --- compound documents ------------------------------------------------------

// A compound document header with a directory at sector `directory`, the
// directory entries (name, start sector) and an optional stream at
// `streamSector`.
Bytes Compound(uint32_t fatSectors, uint32_t directory, const std::vector<std::pair<std::u16string, uint32_t>>& entries,
               uint32_t streamSector = 0, const Bytes& stream = {}, bool version4 = false) {
  const size_t sector = version4 ? 4096 : 512;
  Bytes b(sector * (std::max(directory, streamSector) + 3), 0);
  const uint8_t sig[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(b.data(), sig, 8);
  PutLe16(b, 0x18, 0x3E);
  PutLe16(b, 0x1A, version4 ? 4 : 3);
  PutLe16(b, 0x1C, 0xFFFE);
  PutLe16(b, 0x1E, version4 ? 12 : 9);
  PutLe32(b, 0x2C, fatSectors);
  PutLe32(b, 0x30, directory);
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t at = (directory + 1) * sector + i * 128;
    for (size_t k = 0; k < entries[i].first.size(); ++k) PutLe16(b, at + 2 * k, entries[i].first[k]);
    PutLe32(b, at + 116, entries[i].second);
  }
  if (!stream.empty()) std::memcpy(&b[(streamSector + 1) * sector], stream.data(), stream.size());
  return b;
}

struct Property {
  uint32_t id;
  std::string value;  // a string, or for id 1 the code page as text
  bool wide = false;  // stored as UTF-16 (code page 1200)
};

// A summary-information property set with one section at 48.
Bytes SummarySet(const std::vector<Property>& properties, uint32_t firstOffset = 0) {
  Bytes b(1024, 0);
  PutLe16(b, 0, 0xFFFE);
  PutLe32(b, 52, static_cast<uint32_t>(properties.size()));
  uint32_t offset = firstOffset ? firstOffset : 8 + 8 * static_cast<uint32_t>(properties.size());
  for (size_t i = 0; i < properties.size(); ++i) {
    PutLe32(b, 56 + i * 8, properties[i].id);
    PutLe32(b, 60 + i * 8, offset);
    const size_t at = 48 + offset;
    if (properties[i].id == 1) {
      PutLe32(b, at, 2);
      PutLe16(b, at + 4, static_cast<uint16_t>(std::stoi(properties[i].value)));
      offset += 8;
      continue;
    }
    PutLe32(b, at, 0x1E);
    std::string v = properties[i].value;
    if (properties[i].wide) {
      std::u16string units = Utf8ToUtf16(v);
      v.clear();
      for (char16_t u : units) v += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
      v += '\0';
    }
    PutLe32(b, at + 4, static_cast<uint32_t>(v.size() + 1));
    if (at + 8 + v.size() <= b.size()) std::memcpy(&b[at + 8], v.data(), v.size());
    offset += static_cast<uint32_t>((8 + v.size() + 1 + 3) / 4 * 4);
  }
  return b;
}

const std::u16string kSummaryName = u"\u0005SummaryInformation";

TEST(CarveCompoundDocument, KindFromTheStreamNamesWithoutReadingTheSummary) {
  for (const auto& [stream, extension] : std::vector<std::pair<std::u16string, std::string>>{
           {u"WordDocument", "doc"}, {u"Workbook", "xls"}, {u"PowerPoint Document", "ppt"}}) {
    DiskRecord disk;
    // A summary whose title would otherwise name the file.
    Bytes doc = Compound(1, 2, {{u"Root Entry", 0xFFFFFFFE}, {stream, 5}, {kSummaryName, 3}}, 3,
                         SummarySet({{2, "Ignored title"}, {18, "Microsoft Excel"}}));
    const CarvedFile* file = CarveFile(disk, doc);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->name, "8." + extension);
    EXPECT_EQ(file->size, 65536u);  // one FAT sector maps 128 sectors of 512 bytes
  }
}

TEST(CarveCompoundDocument, TitleOrAuthorAndKindFromTheSummary) {
  DiskRecord disk;
  Bytes titled = Compound(2, 1, {{u"Root Entry", 0xFFFFFFFE}, {kSummaryName, 4}, {u"Contents", 6}}, 4,
                          SummarySet({{1, "1252"}, {2, "Quarterly figures"}, {4, "Ann"}, {18, "Microsoft Excel"}}));
  const CarvedFile* file = CarveFile(disk, titled);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->name, "Quarterly figures.xls");
  EXPECT_EQ(file->size, 2 * 65536u);

  DiskRecord disk2;
  Bytes authored = Compound(1, 1, {{kSummaryName, 4}}, 4,
                            SummarySet({{2, ""}, {4, "Ann Lee"}, {18, "Microsoft Office PowerPoint"}}));
  ASSERT_NE(CarveFile(disk2, authored), nullptr);
  EXPECT_EQ(Carved(disk2)->name, "Ann Lee8.ppt");

  // A summary in UTF-16 (code page 1200) is read as such.
  DiskRecord disk3;
  Bytes unicode = SummarySet({{1, "1200"}, {18, "Microsoft Office Word", true}, {2, "年度报告", true}});
  ASSERT_NE(CarveFile(disk3, Compound(1, 1, {{kSummaryName, 4}}, 4, unicode)), nullptr);
  EXPECT_EQ(Carved(disk3)->name, "年度报告.doc");

  // An application name of no known kind: nothing.
  DiskRecord disk4;
  EXPECT_EQ(CarveFile(disk4, Compound(1, 1, {{kSummaryName, 4}}, 4, SummarySet({{2, "t"}, {18, "Gnumeric"}}))),
            nullptr);
}

TEST(CarveCompoundDocument, NamesFromTitlesAreRepaired) {
  DiskRecord disk;
  Bytes doc = Compound(1, 1, {{kSummaryName, 4}}, 4,
                       SummarySet({{2, "../../etc/passwd\r\nx:y"}, {18, "Microsoft Office Word"}}));
  ASSERT_NE(CarveFile(disk, doc), nullptr);
  const std::string name = Carved(disk)->name;
  EXPECT_EQ(name, "..$..$etc$passwd$$x$y.doc");
  EXPECT_EQ(name.find('/'), std::string::npos);

  DiskRecord disk2;
  ASSERT_NE(CarveFile(disk2, Compound(1, 1, {{kSummaryName, 4}}, 4, SummarySet({{2, ".."}, {18, "Microsoft Excel"}}))),
            nullptr);
  EXPECT_EQ(Carved(disk2)->name, "$$.xls");
}

TEST(CarveCompoundDocument, PropertySetLimits) {
  // A value whose offset passes the check but whose length reaches past the
  // 1024 bytes read is cut there, never read beyond (the sanitizer build
  // would catch a read past the buffer).
  DiskRecord disk;
  Bytes set = SummarySet({{18, "Microsoft Excel"}, {2, "x"}});
  const uint32_t lateOffset = 960;
  PutLe32(set, 60 + 8, lateOffset);
  PutLe32(set, 48 + lateOffset, 0x1E);
  PutLe32(set, 48 + lateOffset + 4, 2000);
  for (size_t i = 48 + lateOffset + 8; i < 1024; ++i) set[i] = 'T';
  ASSERT_NE(CarveFile(disk, Compound(1, 1, {{kSummaryName, 4}}, 4, set)), nullptr);
  EXPECT_EQ(Carved(disk)->name, std::string(1024 - (48 + lateOffset + 8), 'T') + ".xls");

  // An offset above 976, a length above 2048 or too many properties: nothing.
  for (int breach = 0; breach < 3; ++breach) {
    DiskRecord d;
    Bytes bad = SummarySet({{2, "t"}, {18, "Microsoft Excel"}});
    if (breach == 0) PutLe32(bad, 60, 977);
    if (breach == 1) PutLe32(bad, 48 + 24 + 4, 2049);
    if (breach == 2) PutLe32(bad, 52, 121);
    EXPECT_EQ(CarveFile(d, Compound(1, 1, {{kSummaryName, 4}}, 4, bad)), nullptr) << breach;
  }
}

TEST(CarveCompoundDocument, Version4SectorsAndSizesPast4GiB) {
  // 4096-byte sectors: the directory is read at (d + 1) × 4096, and every FAT
  // sector maps 1024 sectors of 4096 bytes.
  DiskRecord disk;
  Bytes doc = Compound(3, 2, {{u"Root Entry", 0xFFFFFFFE}, {u"WordDocument", 4}}, 0, {}, true);
  Bytes image = ImageWith(doc, kAt, 4 * 1024 * 1024 / 512 * 3 + 64);
  CarveImage(disk, image, kAt);
  ASSERT_NE(Carved(disk), nullptr);
  EXPECT_EQ(Carved(disk)->name, "8.doc");
  EXPECT_EQ(Carved(disk)->size, 3u * 1024 * 4096);

  // 70000 FAT sectors promise 4.5 GB: the size is kept past 32 bits and cut
  // to the end of the scanned range.
  DiskRecord disk2;
  Bytes big = Compound(70000, 1, {{u"Workbook", 4}});
  Bytes small = ImageWith(big, kAt, 200);
  CarveResult r = CarveImage(disk2, small, kAt);
  ASSERT_NE(Carved(disk2), nullptr);
  EXPECT_EQ(Carved(disk2)->size, (small.size() / 512 - kAt) * 512);
  EXPECT_EQ(r.carvedLength, Carved(disk2)->size);
}

TEST(CarveAt, FirstInsertionOfAStartSectorWins) {
  DiskRecord disk;
  disk.carvedFiles[kAt] = CarvedFile{0, 77, "kept.jpg", "jpg"};
  CarveResult r;
  CarveFile(disk, test::RarArchive(1000), &r);
  EXPECT_TRUE(r.added);
  EXPECT_EQ(disk.carvedFiles.size(), 1u);
  EXPECT_EQ(Carved(disk)->name, "kept.jpg");
  // Nothing on a sector of zeros or of text.
  DiskRecord empty;
  Bytes text(2048, 'a');
  EXPECT_FALSE(CarveImage(empty, ImageWith(text, 0, 8), 0).matched);
}

TEST(CarveMpeg, APackOfTheOtherVersionStartsAnotherStream) {
  // An MPEG-1 stream without end code, an MPEG-2 pack right behind it.
  Bytes first = test::MpegStream(kMiB + 100, false);
  Bytes both = first;
  Append(both, Bytes{0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8});
  DiskRecord disk;
  ASSERT_NE(CarveFile(disk, both), nullptr);
  EXPECT_EQ(Carved(disk)->size, first.size());
}

// The end-marker searches read their 10 MiB piece by piece: a marker across
// two pieces is still found.
TEST(CarveSearch, MarkersAcrossReadPieces) {
  for (size_t at : {size_t{65536 - 2}, size_t{65536 + 131072 - 1}}) {
    SCOPED_TRACE(at);
    DiskRecord disk;
    Bytes pdf;
    Append(pdf, std::string("%PDF-1.7\n"));
    pdf.resize(512 + at, ' ');
    Append(pdf, std::string("%EOF\n"));
    ASSERT_NE(CarveFile(disk, pdf), nullptr);
    EXPECT_EQ(Carved(disk)->size, 512 + at + 4);
  }
  // FF as the last byte of a piece, D9 the first of the next (the search
  // starts at sector 1, after the headers).
  DiskRecord disk;
  const size_t marker = 512 + 65536 - 1;
  Bytes jpeg = JpegWithMarkers(marker + 2 + 512, {{marker, {}}});
  jpeg.resize(marker + 2);
  ASSERT_NE(CarveFile(disk, jpeg), nullptr);
  EXPECT_EQ(Carved(disk)->size, marker + 2);
}

// A source that makes up an endless MPEG stream of full-length packets, as
// long as `size` says, without holding it in memory.
class EndlessMpegSource : public ByteSource {
 public:
  size_t ReadAt(uint64_t offset, std::span<uint8_t> buffer) const override {
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = ByteAt(offset + i);
    return buffer.size();
  }
  uint64_t Size() const override { return uint64_t{3} << 30; }
  static uint8_t ByteAt(uint64_t o) {
    static const uint8_t kHead[] = {0, 0, 1, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0, 1, 0, 0, 1, 0xBB, 0, 0};
    if (o < sizeof kHead) return kHead[o];
    const uint64_t p = (o - sizeof kHead) % 65541;  // 6-byte packet header + 0xFFFF
    static const uint8_t kPacket[] = {0, 0, 1, 0xE0, 0xFF, 0xFF};
    return p < 6 ? kPacket[p] : 0x11;
  }
};

TEST(CarveMpeg, AStreamPast2GiBIsSkippedWithoutAFile) {
  EndlessMpegSource source;
  Bytes head(kCarveHeadBytes);
  source.ReadAt(0, head);
  DiskRecord disk;
  CarveScratch scratch;
  const uint64_t end = source.Size() / 512;
  CarveResult r = CarveAt(disk, source, head.data(), 0, end, scratch);
  EXPECT_TRUE(disk.carvedFiles.empty());
  EXPECT_GE(r.carvedLength, uint64_t{1} << 31);
  // The jump too stops at the end of the range.
  r = CarveAt(disk, source, head.data(), 0, 1000, scratch);
  EXPECT_EQ(r.carvedLength, 1000u * 512);
}

}  // namespace
}  // namespace quorvel
