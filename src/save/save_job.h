#pragma once
// Preparing saves: what the ticked rows stand for, which engine a partition
// takes, the free-space and same-drive checks, and the SaveJob of each row.
// The faces (CLI, GUI) ask the questions and show the messages.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "save/save_types.h"

namespace quorvel {

// Texts the faces show.
constexpr const char* kSaveBusyText = "警告: 请等待当前操作完成!";
constexpr const char* kSaveNoSelectionText = "警告: 请选择保存对象!";
constexpr const char* kSaveNoTargetText = "警告: 请选择保存路径!";
constexpr const char* kSaveSpaceShortText = "目标盘空间不足，请重新选择盘!";
constexpr const char* kSameDriveQuestion = "将文件放回原分区行为危险\r\n希望重新选择";
constexpr const char* kSaveProgressText = "正在保存文件，请稍等...";
constexpr const char* kSaveProgressTitle = "保存文件";

// The choices of the save dialog.
struct SaveOptions {
  std::string targetFolder;
  std::string nameFilter;  // the page's filter text; empty: every file
  bool useFatReference = true;
  bool recoverDeleted = true;
  bool recoverNormal = true;
};

// One ticked row, standing for its whole subtree.
struct SelectedEntry {
  FatFileEntry* fat = nullptr;
  NtfsFileEntry* ntfs = nullptr;
  bool carvedFolder = false;  // the "Extra Found Files" row
  bool carvedFile = false;    // one carved file, at carvedSector
  uint64_t carvedSector = 0;
  // The number the page shows for the row: first cluster or record number.
  uint64_t fileId = 0;
  // Names of the folders above the entry, from the special folder down; the
  // entry is saved below targetFolder/<chain>/.
  std::vector<std::string> folderChain;
  // The entry is the NTFS extension folder or lies below it: its entries hold
  // start sectors instead of record numbers.
  bool underExtensionFolder = false;
};

// Cluster mode for the FAT kinds, record mode for NTFS, none otherwise.
SaveEngineMode SaveEngineModeForFsKind(uint8_t fsKind);

// Walks the partition's rows from its special folders by their check marks: a
// ticked row (1) is one element for its whole subtree, a partly ticked folder
// (2) is descended into, an unticked row (0) is skipped. A ticked "Extra
// Found Files" folder with carved files inside the partition adds an element;
// a partly ticked one adds each ticked carved file inside the partition.
std::vector<SelectedEntry> CollectCheckedEntries(PartitionRecord& partition, DiskRecord* disk);

// Bytes the files below an element would take (files of the kinds the options
// save and that pass the filter).
uint64_t SelectedBytes(const SelectedEntry& selected, const SaveOptions& options, const DiskRecord* disk,
                       const PartitionRecord& partition);

// Multi-select: the total does not fit in what the target has free.
inline bool MultiSelectSpaceShort(uint64_t total, uint64_t freeBytes) { return total > freeBytes; }
// Single-select: the size is not below what the target has free.
inline bool SingleSelectSpaceShort(uint64_t size, uint64_t freeBytes) { return size >= freeBytes; }
// "即将保存 %.1f MB,磁盘空间不够！" and its KB / GB forms.
std::string SingleSaveSpaceText(uint64_t size);

// True when the target folder lies on the source partition or disk.
bool TargetOnSourceDrive(const std::string& targetFolder, const DiskRecord& disk, const PartitionRecord& partition);

// Opens the source read-only for the jobs of one partition. Null when it
// cannot be opened (composite volumes get a closed device: they read through
// their members).
std::shared_ptr<SectorDevice> OpenSaveDevice(const DiskRecord& disk, const PartitionRecord& partition);

// Builds the job of one element. False when the partition has no engine and
// the element is not the carved-files folder.
bool PrepareSaveJob(DiskRecord& disk, PartitionRecord& partition, const SelectedEntry& selected,
                    const SaveOptions& options, std::shared_ptr<SectorDevice> device, ScanProgress* progress,
                    SaveJob& job);

}  // namespace quorvel
