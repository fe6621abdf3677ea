#pragma once
// Starting a deep scan on a worker thread, as both faces do: over a whole disk
// or over one partition, guarded by OperationBusy, with what the run added.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/scan_progress.h"
#include "model/disk_records.h"
#include "recover/operation_run.h"

namespace quorvel {

// Texts of the progress dialog.
constexpr const char* kDeepScanTitle = "深度扫描";
constexpr const char* kDeepScanStartText = "正在扫描，请稍等...";

struct DeepScanOutcome {
  bool ran = false;      // the source was read (also when stopped)
  bool stopped = false;  // ended early on the stop flag; what it found is kept
  std::string error;
  uint64_t startSector = 0;
  uint64_t sectorCount = 0;
  // What this run added to the disk's records.
  std::vector<std::string> partitionsAdded;  // names, in list order
  size_t carvedFilesAdded = 0;
  size_t directorySectorsAdded = 0;
  size_t mftFragmentsAdded = 0;
};

using DeepScanCallback = std::function<void(const DeepScanOutcome&)>;

struct DeepScanRequest {
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;  // none: the whole disk
  ScanProgress* progress = nullptr;
  // Runs on the worker thread once the scan is done, while OperationBusy is
  // still held; a face that shows the result on its own thread hands it over.
  DeepScanCallback onFinished;
};

// Runs the scan on the calling thread (the worker's body).
DeepScanOutcome RunDeepScan(DiskRecord& disk, PartitionRecord* partition, ScanProgress& progress);

// A running or finished deep-scan worker. Destroying it waits for the worker.
using DeepScanRun = OperationRun<DeepScanOutcome>;

// Refuses (null, refusal set) while OperationBusy is set or without a disk;
// otherwise claims OperationBusy, clears the stop flag, sets the start text
// and starts the worker, which clears OperationBusy on every path and closes
// the progress sink at its end.
std::unique_ptr<DeepScanRun> LaunchDeepScan(const DeepScanRequest& request, std::string& refusal);

}  // namespace quorvel
