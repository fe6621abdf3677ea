#pragma once
// The content types CarveAt knows, one file each. Every type has a cheap
// signature test on the first two sectors and a walk that finds the file's
// end; positions are byte offsets from the file's first byte.
#include <cstdint>
#include <string>

#include "core/byte_view.h"
#include "io/byte_source.h"
#include "scan/carving/carve_at.h"

namespace quorvel {

constexpr uint64_t kCarveMinMediaSize = 0x100000;      // MPEG, AVI, MP4, MP3: more than 1 MiB
constexpr uint64_t kCarveArchiveLimit = 0x40000000;    // ZIP and RAR walks stop at 1 GiB
constexpr uint64_t kCarveStreamLimit = 0x80000000;     // MPEG and MP4 walks stop at 2 GiB
constexpr uint64_t kCarveHeaderWalkLimit = 0x1400000;  // JPEG headers, MP3 frames: 20 MiB

struct CarveInput {
  const ByteSource& source;
  ByteView head;  // the start sector and the next
  uint64_t startSector;
  CarveScratch& scratch;
};

struct CarveFinding {
  bool found = false;
  uint64_t size = 0;
  std::string extension;  // without the dot; may be empty
  std::string stem;       // name before the extension; empty: the start sector
  uint64_t jump = 0;      // bytes to skip when nothing was found (MPEG past 2 GiB)
};

using SignatureTest = bool (*)(ByteView head);
using Walk = CarveFinding (*)(const CarveInput& input);

bool IsPdfStart(ByteView head);
CarveFinding CarvePdf(const CarveInput& input);
bool IsMpegStart(ByteView head);
CarveFinding CarveMpeg(const CarveInput& input);
bool IsAviStart(ByteView head);
CarveFinding CarveAvi(const CarveInput& input);
bool IsMp4Start(ByteView head);
CarveFinding CarveMp4(const CarveInput& input);
bool IsZipStart(ByteView head);
CarveFinding CarveZip(const CarveInput& input);
bool IsRarStart(ByteView head);
CarveFinding CarveRar(const CarveInput& input);
bool IsCompoundDocumentStart(ByteView head);
CarveFinding CarveCompoundDocument(const CarveInput& input);
bool IsJpegStart(ByteView head);
CarveFinding CarveJpeg(const CarveInput& input);
bool IsMp3Start(ByteView head);
CarveFinding CarveMp3(const CarveInput& input);

// A found file of `size` bytes.
inline CarveFinding Found(uint64_t size, std::string extension) {
  CarveFinding finding;
  finding.found = true;
  finding.size = size;
  finding.extension = std::move(extension);
  return finding;
}

// The kCarveSearchBytes at a byte offset of the source, in the scratch
// buffer, read piece by piece as far as a search asks for them: most end
// markers lie near the start, and a search that finds one stops reading.
class SearchBuffer {
 public:
  SearchBuffer(const CarveInput& input, uint64_t offset);
  bool Usable() const { return data_ != nullptr; }
  const uint8_t* Data() const { return data_; }
  // Makes the first `bytes` bytes (at most kCarveSearchBytes) available and
  // returns how many are.
  size_t Fill(size_t bytes);

 private:
  const ByteSource& source_;
  uint64_t offset_;
  uint8_t* data_;
  size_t have_ = 0;
  size_t piece_ = 64 * 1024;
};

}  // namespace quorvel
