#pragma once
// GNU ddrescue's mapfile: which bytes of a source were copied ('+'), found
// bad ('-'), or not tried yet ('?'), so a copy can be resumed, or its bad
// areas handed to ddrescue. Positions are source byte positions.
//
//   # comments
//   0x00120000  ?  1              current position, status, pass
//   0x00000000  0x00117000  +     position, size, status; contiguous
//   0x00117000  0x00000200  -
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "imaging/image_copy.h"

namespace quorvel {

namespace MapStatus {
constexpr char kNonTried = '?';
constexpr char kNonTrimmed = '*';
constexpr char kNonScraped = '/';
constexpr char kBadSector = '-';
constexpr char kFinished = '+';
}  // namespace MapStatus

struct MapBlock {
  uint64_t position = 0;
  uint64_t size = 0;
  char status = MapStatus::kNonTried;
};

class Mapfile {
 public:
  // Sets the status of [position, position + size).
  void Mark(uint64_t position, uint64_t size, char status);
  // Contiguous blocks from 0 to the end of everything marked, neighbours of
  // one status merged; unmarked gaps are non-tried.
  std::vector<MapBlock> Blocks() const;
  // The parts of [start, start + length) not marked finished, widened to
  // whole 512-byte sectors (start is a sector boundary).
  std::vector<CopyArea> Pending(uint64_t start, uint64_t length) const;
  // Bytes marked finished inside [start, start + length), and the end of the
  // last of them (0 when none).
  uint64_t FinishedBytes(uint64_t start, uint64_t length, uint64_t* lastEnd = nullptr) const;

  uint64_t currentPosition = 0;
  char currentStatus = MapStatus::kNonTried;  // '?' copying ... '+' finished
  int currentPass = 1;

 private:
  struct Stretch {
    uint64_t end;
    char status;
  };
  // Marked stretches by position, non-overlapping; gaps are non-tried.
  std::map<uint64_t, Stretch> stretches_;
  uint64_t extent_ = 0;
};

// The mapfile text. heading: comment lines without "# " (command line, times).
std::string FormatMapfile(const Mapfile& map, const std::vector<std::string>& heading);
// Reads a mapfile written by ddrescue, ddrescuelog or FormatMapfile. False
// with error set on anything malformed (a bad number, status, or blocks that
// overlap or leave gaps).
bool ParseMapfile(const std::string& text, Mapfile& map, std::string& error);

// File helpers. Reading refuses files larger than 256 MiB. Writing goes to
// a temporary file beside path that replaces path once it is complete, so a
// crash never leaves half a mapfile.
bool ReadMapfile(const std::string& path, Mapfile& map, std::string& error);
bool WriteMapfile(const std::string& path, const Mapfile& map, const std::vector<std::string>& heading,
                  std::string& error);

}  // namespace quorvel
