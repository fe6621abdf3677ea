#pragma once
// GNU ddrescue's mapfile: which bytes of a source were copied ('+'), failed
// in a large read and wait to be trimmed ('*') or scraped ('/'), were found
// bad sector by sector ('-'), or were not tried yet ('?'), so a rescue can be
// resumed, by this program or by ddrescue, and the other way round.
// Positions are source byte positions.
//
//   # comments
//   0x00120000  ?  1              current position, phase, pass
//   0x00000000  0x00117000  +     position, size, status; contiguous
//   0x00117000  0x00000200  -
//   0x00117200  0x00008E00  *
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

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

  uint64_t End() const { return position + size; }
};

// Bytes of each status inside a range, and its bad areas (separate runs of
// bad sectors), as ddrescue's status screen counts them.
struct MapTally {
  uint64_t nonTried = 0, nonTrimmed = 0, nonScraped = 0, badSector = 0, finished = 0;
  uint64_t badAreas = 0;
};

class Mapfile {
 public:
  // Sets the status of [position, position + size).
  void Mark(uint64_t position, uint64_t size, char status);
  // Makes the blocks reach at least to end (the rest non-tried), as a
  // mapfile of a source of that size does.
  void Cover(uint64_t end) { extent_ = std::max(extent_, end); }
  // Contiguous blocks from 0 to the end of everything marked, neighbours of
  // one status merged; unmarked gaps are non-tried.
  std::vector<MapBlock> Blocks() const;
  // The block (stretch of one status, merged) that holds position; past
  // everything marked, a non-tried block reaching to the largest position.
  MapBlock BlockAt(uint64_t position) const;
  // The first block of `status` that ends after `from` (forwards) or begins
  // before `from` (backwards), cut to [low, high) and to `from`. False when
  // there is none inside [low, high).
  bool FindBlock(char status, uint64_t from, uint64_t low, uint64_t high, bool forwards, MapBlock& found) const;
  MapTally Tally(uint64_t start, uint64_t length) const;
  // Bytes marked finished inside [start, start + length), and the end of the
  // last of them (0 when none).
  uint64_t FinishedBytes(uint64_t start, uint64_t length, uint64_t* lastEnd = nullptr) const;

  // The status line: where the rescue was, its phase ('?' copying, '*'
  // trimming, '/' scraping, '-' retrying, '+' finished) and pass.
  uint64_t currentPosition = 0;
  char currentStatus = MapStatus::kNonTried;
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
