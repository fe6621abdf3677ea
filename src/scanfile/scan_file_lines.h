#pragma once
// Reading a scan-result file line by line, in pieces, however long or short
// it is: a line's end (LF, or CR LF) is dropped, a line longer than
// kMaxScanFileLine is cut there, and the last line may lack its end.
#include <cstdint>
#include <string>
#include <vector>

#include "io/byte_source.h"

namespace quorvel {

// True when the file's bytes are well-formed UTF-8 (a UTF-8 byte-order mark
// allowed, and a sequence cut short by the file's end forgiven: a truncated
// file stays what it was). Files written in code page 936 are not, unless
// they hold nothing beyond ASCII.
bool ScanFileIsUtf8(const ByteSource& file);

class ScanFileLineReader {
 public:
  explicit ScanFileLineReader(const ByteSource& file);

  // Moves to the next line; false at the end of the file. With
  // wholeLines false, a line longer than kMaxScanFileLine ends the reading
  // there instead of being read on to its end (a first line that long means
  // the file is no scan-result file, maybe a disk image of many gigabytes).
  bool Next(bool wholeLines = true);
  // The current line, without its end.
  const std::string& line() const { return line_; }
  // 1-based number of the current line.
  uint64_t lineNumber() const { return lineNumber_; }
  // The current line was longer than kMaxScanFileLine and is cut.
  bool cut() const { return cut_; }
  // The current line ends at the end of the file without a line end.
  bool unterminated() const { return unterminated_; }
  // The next Next() gives the current line again.
  void HandBack() { handedBack_ = true; }

 private:
  bool Fill();
  void DropCutCharacter();

  const ByteSource& file_;
  std::vector<uint8_t> buffer_;
  uint64_t offset_ = 0;  // of the byte after the buffer's content
  size_t pos_ = 0, end_ = 0;
  std::string line_;
  uint64_t lineNumber_ = 0;
  bool cut_ = false, unterminated_ = false, handedBack_ = false, abandoned_ = false;
};

}  // namespace quorvel
