// The disk page's scan-result files: "保存" (the save-scan button) and "保存扫描结果"
// write a disk's scan results, function 5 ("打开扫描信息") and "打开扫描结果"
// read them back onto the disk; both on a worker, the page's row of the disk
// brought up to date after a load.
#include <QFileDialog>
#include <QFileInfo>

#include "core/operation_busy.h"
#include "model/partition_texts.h"
#include "scanfile/scan_file_format.h"
#include "scanfile/scan_file_load.h"
#include "scanfile/scan_file_target.h"
#include "scanfile/scan_file_texts.h"
#include "scanfile/scan_file_writer.h"
#include "ui/file_dlg.h"
#include "ui/gui_call.h"
#include "ui/hd_dlg.h"
#include "ui/hd_tree_list_ctrl.h"

namespace quorvel {

namespace {
const char* const kBusy = "警告: 请等待当前操作完成";
const char* const kNoSelection = "警告: 没有选择的项目";
const char* const kSaveTitle = "保存扫描结果";
const char* const kOpenTitle = "打开扫描结果";
const char* const kFilter = "rvz_scn Files(*.rvz_scn);;Text Files(*.txt);;All Files(*)";
const char* const kDamagedLine = " (第 %1 行)";

QString Q(const char* text) { return QString::fromUtf8(text); }
QString Q(const std::string& text) { return QString::fromStdString(text); }

QString RunFileDialog(QWidget* parent, bool save, const QString& suggested) {
  QFileDialog dialog(parent, Q(save ? kSaveTitle : kOpenTitle), QString(), Q(kFilter));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(Q(kScanFileExtension));
  if (save) dialog.selectFile(suggested);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().front();
}

// The disk's identity followed by the extension, as a file name.
QString SuggestedName(const DiskRecord& disk) {
  QString name = Q(disk.Identity()) + QLatin1Char('.') + Q(kScanFileExtension);
  name.replace(QLatin1Char('/'), QLatin1Char('_'));
  return name;
}
}  // namespace

DiskRecord* CHdDlg::DiskOfRow(Row row) {
  if (!row) return nullptr;
  const QString text = tree_->GetItemText(row, 0);
  for (DiskRecord& d : disks_)
    if (Q(d.Identity()) == text) return &d;
  return nullptr;
}

void CHdDlg::OnSaveScanResult() {
  if (OperationBusy().load()) return SetStatus(Q(kBusy), true);
  Row diskRow, partitionRow;
  if (!StoreSelection(diskRow, partitionRow)) return SetStatus(Q(kScanFileNoDisk), true);
  // Only a disk row names a disk.
  DiskRecord* disk = partitionRow ? nullptr : DiskOfRow(diskRow);
  if (!disk) return SetStatus(Q(kScanFileChooseDisk), true);
  SetStatus(Q(kScanFileSaving), false);
  const QString suggested = SuggestedName(*disk);
  const QString path = chooseSaveScanFile ? chooseSaveScanFile(suggested) : RunFileDialog(this, true, suggested);
  if (path.isEmpty()) return SetStatus(Q(kScanFileSaveCancelled), false);
  std::string why;
  switch (CheckScanFileTarget(path.toStdString(), *disk, &why)) {
    case ScanFileTarget::kFine:
      break;
    case ScanFileTarget::kIsSource:
    case ScanFileTarget::kOnSource:
      return SetStatus(Q(kScanFileOnSource), true);
    case ScanFileTarget::kNoFolder:
    case ScanFileTarget::kNotWritable:
      return SetStatus(Q(kScanFileCreateFailed) + QStringLiteral(": ") + Q(why), true);
  }
  if (!TryClaimOperation()) return SetStatus(Q(kBusy), true);
  workers_.Start([this, disk, path] {
    const ScanFileSaveResult result = SaveScanResult(*disk, path.toStdString());
    SendToWindow(this, [this, &result] {
      if (result.status == ScanFileSaveStatus::kSaved)
        SetStatus(Q(kScanFileSaved), false);
      else
        SetStatus(Q(result.status == ScanFileSaveStatus::kCannotCreate ? kScanFileCreateFailed : kScanFileWriteFailed) +
                      QStringLiteral(": ") + Q(result.error),
                  true);
      emit ScanFileFinished();
    });
    OperationBusy().store(false);
  });
}

void CHdDlg::OnOpenScanResult() {
  Row diskRow, partitionRow;
  if (!StoreSelection(diskRow, partitionRow)) return SetStatus(Q(kNoSelection), true);
  if (partitionRow) return SetStatus(Q(kScanFileChooseDisk), true);
  if (OperationBusy().load()) return SetStatus(Q(kBusy), true);
  // A row whose disk is no longer listed: nothing to load onto.
  DiskRecord* disk = DiskOfRow(diskRow);
  if (!disk) return SetStatus(Q(kScanFileChooseDisk), true);
  SetStatus(Q(kScanFileOpening), false);
  const QString path = chooseOpenScanFile ? chooseOpenScanFile() : RunFileDialog(this, false, QString());
  if (path.isEmpty()) return SetStatus(Q(kScanFileOpenCancelled), false);
  // The file page may still point into the partitions a load replaces.
  emit DiscardRequested();
  if (filePage_) filePage_->ForgetDisk(disk);
  if (!TryClaimOperation()) return SetStatus(Q(kBusy), true);
  workers_.Start([this, disk, path] {
    const ScanFileLoadResult result = LoadScanResult(*disk, path.toStdString());
    SendToWindow(this, [this, disk, &result] {
      if (result.partitionsReplaced) RefillDiskRow(*disk);
      switch (result.status) {
        case ScanFileLoadStatus::kLoaded:
          SetStatus(Q(kScanFileOpened), false);
          break;
        case ScanFileLoadStatus::kOtherDisk:
          SetStatus(Q(kScanFileOtherDisk), true);
          break;
        case ScanFileLoadStatus::kCannotOpen:
          SetStatus(Q(kScanFileOpenFailed) + QStringLiteral(": ") + Q(result.error), true);
          break;
        case ScanFileLoadStatus::kDamaged: {
          const uint64_t line = result.problems.empty() ? 0 : result.problems.front().line;
          SetStatus(Q(kScanFileDamaged) + (line ? Q(kDamagedLine).arg(line) : QString()), true);
          break;
        }
      }
      emit ScanFileFinished();
    });
    OperationBusy().store(false);
  });
}

void CHdDlg::RefillDiskRow(const DiskRecord& disk) {
  Row diskRow = nullptr;
  for (Row r = tree_->GetRootItem(); r; r = tree_->GetNextSiblingItem(r))
    if (tree_->GetItemText(r, 0) == Q(disk.Identity())) diskRow = r;
  if (!diskRow) return;
  // Rows of partitions the file replaced would lead nowhere: all anew.
  qDeleteAll(diskRow->takeChildren());
  std::vector<std::string> texts = PartitionRowTexts(disk);
  size_t i = 0;
  for (const PartitionRecord& partition : disk.partitions)
    SetPartitionRow(tree_->InsertItem(Q(texts[i++]), diskRow), partition, true);
  tree_->Expand(diskRow);
}

}  // namespace quorvel
