#pragma once
// The file page's side of saving: the rows ticked in the folder tree as the
// save's selection, and the texts the page words the save's refusals with.
// Check marks are the page's own concern; the save engines only ever see the
// selection made of them.
#include <cstdint>
#include <string>
#include <vector>

#include "model/disk_records.h"
#include "save/save_types.h"

namespace quorvel {

// Refusals and questions of the save commands, as the page shows them.
constexpr const char* kSaveBusyText = "警告: 请等待当前操作完成!";
constexpr const char* kSaveNoSelectionText = "警告: 请选择保存对象!";
constexpr const char* kSaveNoTargetText = "警告: 请选择保存路径!";
constexpr const char* kSaveSpaceShortText = "目标盘空间不足，请重新选择盘!";
constexpr const char* kSaveProgressText = "正在保存文件，请稍等...";
constexpr const char* kSaveProgressTitle = "保存文件";

// "即将保存 %.1f MB,磁盘空间不够！" and its KB / GB forms: the single-select
// save's message when the target has too little room.
std::string SingleSaveSpaceText(uint64_t size);

// The status line after a save: how many files were saved, how many of them
// are incomplete (their data could not all be read, or a typed file was left
// empty), how many could not be written, and the folder they went to; after a
// stop, how many were saved whole. warning is set when not every file was
// saved whole.
std::string SaveDoneText(const SaveSummary& summary, const std::string& targetFolder, bool& warning);

// Walks the partition's rows from its special folders by their check marks: a
// ticked row (1) is one element for its whole subtree, a partly ticked folder
// (2) is descended into, an unticked row (0) is skipped. A ticked "Extra
// Found Files" folder with carved files inside the partition adds an element.
std::vector<SelectedEntry> CollectCheckedEntries(PartitionRecord& partition, DiskRecord* disk);

}  // namespace quorvel
