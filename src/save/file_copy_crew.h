#pragma once
// Copying saved files' data on a thread of its own while the engine goes on
// through the tree, and on the engine's thread too whenever enough files wait:
// most of a save's time is the kernel filling the target's new pages, which
// one thread cannot spread over the processors. The engine reads what a file
// needs (an MFT record, a FAT entry's first cluster), creates the target and
// hands it over with the pieces of the source to copy (or the way to find
// them); names are therefore taken in the walk's order, as before. Files are
// counted in the run (written, incomplete, failed, removed after a stop) in
// the order they were handed over, on the engine's thread, so the run's
// report does not depend on which thread was faster. Only image files are
// read this way: a disk (a failing one above all) is read in one stream, each
// file copied as it is handed over, as it is without threads or when a
// stream takes the data.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "save/file_data.h"

namespace quorvel {

// counted bytes of a file, at fileOffset in it, from `sector` of the source
// (any length: it is copied in blocks of about 10 MiB).
struct FilePiece {
  uint64_t sector = 0;
  uint64_t fileOffset = 0;
  uint64_t counted = 0;
};

// A target file ready for its data: created (empty), what is known without
// reading (holes) already tallied.
struct PreparedFile {
  TargetFile file;
  uint64_t size = 0;
  uint64_t id = 0;  // the number the listing shows for the entry
  SaveNoteKind whyShort = SaveNoteKind::kRunsEndBeforeSize;
  FileDataTally tally;
  std::vector<uint8_t> heldBytes;  // written first, at offset 0 (data kept in the record itself)
  std::vector<FilePiece> pieces;   // then these, in order
  // then these, one at a time until it answers false (a chain followed as
  // the copy goes); called on the copying thread
  std::function<bool(FilePiece&)> morePieces;
  bool lengthFirst = false;  // the file is given its size before anything is written
  bool writeUnread = false;  // see CopyFileData
  bool reportBytes = false;  // progress text "<n> BYTE被保存" when counted
};

class FileCopyCrew {
 public:
  // Copies for one job into run. workers: copying threads besides the
  // engine's own (0: none).
  FileCopyCrew(const SaveJob& job, SaveRun& run, unsigned workers = DefaultWorkers());
  // One per processor but the engine's, one at least and three at most (with
  // the engine's thread copying too, a second one measured no faster on two
  // processors).
  static unsigned DefaultWorkers();
  ~FileCopyCrew();
  FileCopyCrew(const FileCopyCrew&) = delete;
  FileCopyCrew& operator=(const FileCopyCrew&) = delete;

  // Takes the file over; it is copied and counted later (at once without
  // threads). A stop drops the files not yet copied.
  void Submit(PreparedFile file);
  // Waits for every file handed over and counts it. Call it before counting
  // anything in the run directly. False when one of the files it counted was
  // removed (a failed write, or the stop).
  bool Drain();

 private:
  enum class Outcome : uint8_t { kCopied, kWriteFailed, kStopped };
  struct Slot {
    PreparedFile file;
    std::atomic<uint64_t> copied{0};  // end of the last piece copied, for the progress
    bool done = false;
    Outcome outcome = Outcome::kCopied;
  };

  void StartWorkers();
  void Work();
  // Copies one file. On a worker copied follows the pieces; on the walk's
  // thread (copied null) the progress does.
  Outcome Copy(PreparedFile& file, std::atomic<uint64_t>* copied) const;
  // Copies the oldest file not yet taken on the walk's thread; false when
  // there is none.
  bool CopyOneHere();
  bool OldestDone();
  // Waits for the oldest file handed over and counts it.
  void RetireOldest();
  void Count(PreparedFile& file, Outcome outcome);

  const SaveJob& job_;
  SaveRun& run_;
  const uint64_t limit_;
  const unsigned wanted_;  // threads to start with the first file that has data
  bool started_ = false;
  bool removed_ = false;  // a file was removed since the last Drain
  std::mutex mutex_;
  std::condition_variable workReady_;
  std::condition_variable slotDone_;
  std::deque<std::unique_ptr<Slot>> queue_;  // handed over, not yet counted, oldest first
  size_t firstUntaken_ = 0;                  // index in queue_ of the next file to copy
  unsigned idleWorkers_ = 0;                 // workers waiting for a file
  bool walkWaits_ = false;                   // the walk waits for the oldest file
  bool closing_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace quorvel
