#pragma once
// A file's data as the save engines read it: never past the partition's or
// the source's end, short reads tried again sector by sector, and a tally of
// which bytes arrived, so a file whose data could not all be read is written
// as far as it can be and reported incomplete rather than saved as zeros.
#include <cstdint>
#include <span>

#include "io/careful_read.h"
#include "save/save_types.h"
#include "save/target_naming.h"

namespace quorvel {

// Which bytes of one file being written are its own data.
struct FileDataTally {
  uint64_t known = 0;       // bytes read from the source, or known to be zeros (sparse, past the initialized size)
  uint64_t end = 0;         // end of the last such byte in the file
  bool unreadable = false;  // some bytes could not be read

  // length bytes at offset of the file are known.
  void Known(uint64_t offset, uint64_t length);
  // A careful read of `counted` bytes that lie at offset of the file.
  void Add(uint64_t offset, const CarefulReadResult& read, uint64_t counted);
};

// End (in the job's source) of what the job's partition may be read from.
uint64_t JobReadLimit(const SaveJob& job);
// End of the job's source (carved files may end past the partition they
// start in).
uint64_t JobSourceEnd(const SaveJob& job);

// Reads `counted` bytes of a file, lying at fileOffset in it, from `sector`
// of the job's source into buffer (whole sectors; zeros where nothing could
// be read; nothing at or past limit) and tallies them.
void ReadFileData(const SaveJob& job, uint64_t sector, std::span<uint8_t> buffer, uint64_t fileOffset, size_t counted,
                  uint64_t limit, FileDataTally& tally);

// Copies `counted` bytes of a file, lying at fileOffset in it, from `sector`
// of the job's source into file: straight from the source inside the kernel
// where it can (TargetFile::CopyFrom), the rest read into buffer (whole
// sectors, as ReadFileData) and written, unless none of the rest could be
// read and writeUnread is false (the file's length already makes those bytes
// zeros, or they stay a hole). Everything is tallied; the file's position
// ends at fileOffset + counted. False when a write failed.
bool CopyFileData(const SaveJob& job, uint64_t sector, std::span<uint8_t> buffer, uint64_t fileOffset, size_t counted,
                  uint64_t limit, FileDataTally& tally, TargetFile& file, bool writeUnread);

// Ends a written file of `size` bytes: when some of its data is missing and
// nothing after a point came from the source, the file is cut there (a file
// cut at the source's end is written as far as data exists; gaps in the
// middle stay zeros so later bytes keep their offsets). Then it is counted:
// complete, or incomplete with the bytes missing, the reason being the
// source when reads failed and whyShort otherwise. id is the number the
// listing shows for the entry (first cluster, record number, start sector).
void FinishFile(SaveRun& run, TargetFile& file, uint64_t size, uint64_t id, const FileDataTally& tally,
                SaveNoteKind whyShort);

// A write failed: the file is removed (a partial file never stays under its
// real name) and noted with the system's reason.
void FailWrite(SaveRun& run, TargetFile& file);

// The run was stopped while the file was being written: it is removed.
void DropStoppedFile(SaveRun& run, TargetFile& file);

}  // namespace quorvel
