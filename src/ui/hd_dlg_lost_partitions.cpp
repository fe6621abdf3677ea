// The disk page's function 2, "扫描丢失分区": the scan-mode dialog, the
// lost-partition worker behind the progress dialog, and the disk's row
// brought up to date with the partitions found.
#include "core/operation_busy.h"
#include "scan/found_partition_counter.h"
#include "scan/lost_partitions.h"
#include "ui/gui_call.h"
#include "ui/hd_dlg.h"
#include "ui/hd_tree_list_ctrl.h"
#include "ui/progress_dlg.h"
#include "ui/search_disk_part_dlg.h"

namespace quorvel {

namespace {
const char* const kTitle = "扫描丢失分区";
const char* const kBusy = "警告: 请等待当前操作完成";
const char* const kChooseDisk = "警告: 请正确选择磁盘!";
const char* const kDone = "扫描完成, 找到%d个新分区";
const char* const kStopped = "扫描已停止, 找到%d个新分区";
const char* const kCannotOpen = "错误: 无法打开磁盘 ";

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The text a partition's row shows: its drive text, else its name.
std::string RowText(const PartitionRecord& p) { return p.driveLetter.empty() ? p.name : p.driveLetter; }
}  // namespace

void CHdDlg::StartLostPartitionScan(const QString& diskIdentity) {
  DiskRecord* disk = nullptr;
  for (DiskRecord& d : disks_)
    if (Q(d.Identity()) == diskIdentity) disk = &d;
  if (!disk) return SetStatus(QString::fromUtf8(kChooseDisk), true);

  CSearchDiskPart dialog(disk->tracksPerCylinder, this);
  const bool chosen = runSearchDialog ? runSearchDialog(dialog) : dialog.exec() == QDialog::Accepted;
  if (!chosen) return;  // cancelled: nothing happens, nothing is said
  if (!TryClaimOperation()) return SetStatus(QString::fromUtf8(kBusy), true);

  CProgressDlg* progress = ProgressDialog();
  progress->StartOperation(QString::fromUtf8(kTitle), Q(FoundPartitionCountText(CountFoundPartitions(*disk))));
  SetStatus(Q(FoundPartitionCountText(0)), false);
  const LostScanMode mode = dialog.Mode();
  const uint32_t tracks = dialog.TracksPerCylinder();
  workers_.Start([this, disk, mode, tracks, progress] {
    ScanProgress& block = progress->Progress();
    ProgressSink* dialogSink = block.sink;
    // The count of found partitions goes to the caption; the worker waits
    // while the dialog shows it, so the disk is counted while it stands still.
    FoundPartitionCounter counter(*disk, dialogSink, [progress](const std::string& text) {
      SendToWindow(progress, [progress, text] { progress->SetCaptionText(Q(text)); });
    });
    block.sink = &counter;
    LostScanReport report;
    const bool done = ScanLostPartitions(*disk, mode, tracks, block, &report);
    block.sink = dialogSink;
    SendToWindow(this, [this, disk, &report, done] {
      UpdateDiskRow(*disk);
      const int found = static_cast<int>(report.found.size());
      if (!report.error.empty())
        SetStatus(QString::fromUtf8(kCannotOpen) + Q(disk->devicePath + ": " + report.error), true);
      else
        SetStatus(QString::asprintf(report.stopped ? kStopped : kDone, found), false);
      emit LostPartitionScanFinished(done);
    });
    // The dialog closes before the flag clears: once it is clear the windows
    // may go away, and nothing may be sent to them any more.
    block.Close();
    OperationBusy().store(false);
  });
}

void CHdDlg::UpdateDiskRow(const DiskRecord& disk) {
  Row diskRow = nullptr;
  for (Row r = tree_->GetRootItem(); r; r = tree_->GetNextSiblingItem(r))
    if (tree_->GetItemText(r, 0) == Q(disk.Identity())) diskRow = r;
  if (!diskRow) return;
  QStringList shown;
  for (Row r = tree_->GetChildItem(diskRow); r; r = tree_->GetNextSiblingItem(r)) shown << tree_->GetItemText(r, 0);
  for (const PartitionRecord& p : disk.partitions) {
    if (shown.contains(Q(p.driveLetter)) || shown.contains(Q(p.name)) || RowText(p).empty()) continue;
    Row row = tree_->InsertItem(Q(RowText(p)), diskRow);
    shown << Q(RowText(p));
    SetPartitionRow(row, p, false);
  }
  tree_->Expand(diskRow);
}

}  // namespace quorvel
