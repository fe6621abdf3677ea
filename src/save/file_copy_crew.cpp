#include "save/file_copy_crew.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "io/sector_buffer.h"
#include "save/save_engines.h"
#include "save/source_copy.h"
#include "save/target_stream.h"

namespace quorvel {

namespace {

// Files handed over and not yet counted: each holds its target open.
constexpr size_t kMaxHandedOver = 64;
// About the most copied at once (whole sectors).
constexpr uint64_t kCopyBlock = 0xA00000;

// Anything to do for the file before it is counted (a length alone makes a
// sparse file).
bool HasWork(const PreparedFile& file) {
  return file.lengthFirst || !file.heldBytes.empty() || !file.pieces.empty() || file.morePieces;
}

// The file's next piece to copy: the listed ones, then those it finds.
bool NextPiece(PreparedFile& file, size_t& listed, FilePiece& piece) {
  if (listed < file.pieces.size()) {
    piece = file.pieces[listed++];
    return true;
  }
  return file.morePieces && file.morePieces(piece);
}

}  // namespace

unsigned FileCopyCrew::DefaultWorkers() {
  const unsigned processors = std::thread::hardware_concurrency();
  return std::clamp(processors > 1 ? processors - 1 : 1u, 1u, 3u);
}

FileCopyCrew::FileCopyCrew(const SaveJob& job, SaveRun& run, unsigned workers)
    : job_(job),
      run_(run),
      limit_(JobReadLimit(job)),
      wanted_(CurrentTargetStream() || !job.source->TakesTwoReaders() ? 0 : workers) {}

FileCopyCrew::~FileCopyCrew() {
  Drain();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  workReady_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void FileCopyCrew::StartWorkers() {
  started_ = true;
  for (unsigned i = 0; i < wanted_; ++i) {
    try {
      workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads, or none: files are then copied as they come
    }
  }
}

void FileCopyCrew::Submit(PreparedFile file) {
  if (!started_ && HasWork(file)) StartWorkers();
  if (workers_.empty()) {
    Count(file, Copy(file, nullptr));
    return;
  }
  // With the queue full the walk copies too, the oldest file no worker has
  // taken; it waits only when the workers have every file in hand.
  while (queue_.size() >= kMaxHandedOver) {
    if (!CopyOneHere()) RetireOldest();
    while (!queue_.empty() && OldestDone()) RetireOldest();
  }
  bool wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::make_unique<Slot>());
    queue_.back()->file = std::move(file);
    wake = idleWorkers_ > 0;
  }
  if (wake) workReady_.notify_one();
  // Files already copied are counted now, so the report and the progress
  // keep up with the copying.
  while (!queue_.empty() && OldestDone()) RetireOldest();
}

bool FileCopyCrew::CopyOneHere() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (firstUntaken_ >= queue_.size()) return false;
  Slot& slot = *queue_[firstUntaken_++];
  lock.unlock();
  // On this thread the copy reports its own progress (a long file would
  // otherwise show none until it is done).
  const Outcome outcome = Copy(slot.file, nullptr);
  lock.lock();
  slot.outcome = outcome;
  slot.done = true;
  return true;
}

bool FileCopyCrew::Drain() {
  while (!queue_.empty()) RetireOldest();
  const bool kept = !removed_;
  removed_ = false;
  return kept;
}

bool FileCopyCrew::OldestDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.front()->done;
}

void FileCopyCrew::RetireOldest() {
  ScanProgress& progress = *job_.progress;
  std::unique_lock<std::mutex> lock(mutex_);
  Slot& oldest = *queue_.front();
  // A long file shows how far it got while the walk waits for it.
  while (!oldest.done) {
    walkWaits_ = true;
    const bool timedOut = slotDone_.wait_for(lock, std::chrono::milliseconds(100)) == std::cv_status::timeout;
    walkWaits_ = false;
    if (timedOut && oldest.file.size) {
      progress.Range(100, 1);
      progress.Pos(oldest.copied.load(std::memory_order_relaxed) * 100 / oldest.file.size);
    }
  }
  std::unique_ptr<Slot> slot = std::move(queue_.front());
  queue_.pop_front();
  --firstUntaken_;
  lock.unlock();
  Count(slot->file, slot->outcome);
}

void FileCopyCrew::Work() {
  pthread_setname_np(pthread_self(), "qv-copy");
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ++idleWorkers_;
    workReady_.wait(lock, [this] { return closing_ || firstUntaken_ < queue_.size(); });
    --idleWorkers_;
    if (firstUntaken_ >= queue_.size()) return;
    Slot& slot = *queue_[firstUntaken_++];
    lock.unlock();
    const Outcome outcome = Copy(slot.file, &slot.copied);
    lock.lock();
    slot.outcome = outcome;
    slot.done = true;
    if (walkWaits_) slotDone_.notify_one();
  }
}

FileCopyCrew::Outcome FileCopyCrew::Copy(PreparedFile& prepared, std::atomic<uint64_t>* copied) const {
  ScanProgress& progress = *job_.progress;
  // A file with nothing to copy is whole already; one not begun when the
  // stop came is removed like the one being written.
  if (!HasWork(prepared)) return Outcome::kCopied;
  if (progress.StopRequested()) return Outcome::kStopped;
  TargetFile& file = prepared.file;
  if (prepared.lengthFirst && !file.SetLength(prepared.size)) return Outcome::kWriteFailed;
  if (!prepared.heldBytes.empty()) {
    file.Seek(0);
    if (!file.Write(prepared.heldBytes.data(), prepared.heldBytes.size())) return Outcome::kWriteFailed;
    prepared.tally.Known(0, prepared.heldBytes.size());
  }
  const uint64_t sectorBytes = JobSectorBytes(job_);
  const uint64_t block = std::max(sectorBytes, kCopyBlock / sectorBytes * sectorBytes);
  if (!copied) progress.Range(100, 1);
  size_t listed = 0;
  FilePiece piece;
  while (NextPiece(prepared, listed, piece)) {
    // A long piece goes in blocks, the stop and the progress looked at
    // between them.
    for (uint64_t done = 0; done < piece.counted;) {
      const size_t counted = static_cast<size_t>(std::min(block, piece.counted - done));
      const size_t want = static_cast<size_t>((counted + sectorBytes - 1) / sectorBytes * sectorBytes);
      const std::span<uint8_t> buffer = ThreadReadBuffer(want);
      if (buffer.size() < want) return Outcome::kWriteFailed;
      if (!CopyFileData(job_, piece.sector + done / sectorBytes, buffer, piece.fileOffset + done, counted, limit_,
                        prepared.tally, file, prepared.writeUnread))
        return Outcome::kWriteFailed;
      done += counted;
      const uint64_t end = piece.fileOffset + done;
      // On the walk's own thread the copy reports as it goes; a worker leaves
      // that to the walk.
      if (copied) {
        copied->store(end, std::memory_order_relaxed);
      } else {
        if (prepared.reportBytes) ReportFileBytes(progress, run_, end);
        if (prepared.size) progress.Pos(end * 100 / prepared.size);
      }
      if (progress.StopRequested() && end < prepared.size) return Outcome::kStopped;
    }
  }
  return Outcome::kCopied;
}

void FileCopyCrew::Count(PreparedFile& prepared, Outcome outcome) {
  ScanProgress& progress = *job_.progress;
  switch (outcome) {
    case Outcome::kWriteFailed:
      FailWrite(run_, prepared.file);
      removed_ = true;
      return;
    case Outcome::kStopped:
      DropStoppedFile(run_, prepared.file);
      removed_ = true;
      return;
    case Outcome::kCopied:
      break;
  }
  if (prepared.reportBytes) ReportFileBytes(progress, run_, prepared.file.Length());
  progress.Range(100, 1);
  progress.Pos(100);
  FinishFile(run_, prepared.file, prepared.size, prepared.id, prepared.tally, prepared.whyShort);
}

}  // namespace quorvel
