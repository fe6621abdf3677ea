#include "cli/tree_output.h"

#include "cli/json_writer.h"
#include "model/partition_texts.h"

namespace quorvel::cli {

namespace {

// One printed row, whichever form the entry has.
struct Row {
  std::string path;
  const std::string* name;
  uint8_t state;
  uint64_t size;
  uint64_t id;
  uint64_t parentId;
  std::string created, modified, accessed;
  int depth;
};

bool Shown(uint8_t state) { return state >= kDeletedFolder && state <= kFile; }

// The fields a FAT and an NTFS entry fill alike.
template <typename Entry>
Row StartRow(const Entry& entry, const std::string& parentPath, int depth) {
  Row row;
  row.path = parentPath.empty() ? entry.name : parentPath + "/" + entry.name;
  row.name = &entry.name;
  row.state = entry.state();
  row.size = entry.size;
  row.depth = depth;
  return row;
}

class TreePrinter {
 public:
  TreePrinter(bool json, FILE* out) : json_(json), out_(out) {}

  void Begin(const DiskRecord& disk, const PartitionRecord& partition) {
    if (json_) {
      // Written piece by piece so a huge tree never sits in memory twice.
      text_ += "{\"disk\":\"" + JsonEscape(disk.Identity()) + "\",\"partition\":\"" + JsonEscape(partition.name) +
               "\",\"fs\":\"" + JsonEscape(PartitionTypeText(partition)) + "\",\"entries\":[";
      return;
    }
    text_ += "磁盘 " + disk.Identity() + "  分区 " + partition.name + "  " + PartitionTypeText(partition) + "\n";
    text_ += "状态          大小          创建时间             修改时间             编号        名称\n";
  }

  void Add(const Row& row) {
    if (IsFolderState(row.state))
      ++folders_;
    else
      ++files_;
    if (IsDeletedState(row.state)) ++deleted_;
    if (json_) {
      JsonWriter entry;
      entry.BeginObject();
      entry.Field("path", row.path).Field("name", *row.name).Field("state", static_cast<int>(row.state));
      entry.Field("state_text", EntryStateText(row.state));
      entry.Field("size", row.size).Field("id", row.id).Field("parent_id", row.parentId);
      entry.Field("created", row.created).Field("modified", row.modified).Field("accessed", row.accessed);
      entry.EndObject();
      if (folders_ + files_ > 1) text_ += ',';
      text_ += entry.text();
      if (text_.size() > (1u << 20)) Flush();
      return;
    }
    // The state texts are four or five wide characters: pad to 12 columns.
    const std::string state = EntryStateText(row.state);
    text_ += state;
    text_.append(14 - state.size() / 3 * 2, ' ');
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "%12llu  %s  %s  %10llu  ", static_cast<unsigned long long>(row.size),
                  row.created.c_str(), row.modified.c_str(), static_cast<unsigned long long>(row.id));
    text_ += numbers;
    text_.append(static_cast<size_t>(row.depth) * 2, ' ');
    text_ += *row.name;
    if (IsFolderState(row.state)) text_ += '/';
    text_ += '\n';
    if (text_.size() > (1u << 20)) Flush();
  }

  void End() {
    if (json_) {
      text_ += "]}\n";
      Flush();
      return;
    }
    char summary[160];
    std::snprintf(summary, sizeof summary, "%zu 个文件夹, %zu 个文件, 其中 %zu 项已删除\n", folders_, files_, deleted_);
    text_ += summary;
    Flush();
  }

 private:
  void Flush() {
    std::fwrite(text_.data(), 1, text_.size(), out_);
    text_.clear();
  }

  bool json_;
  FILE* out_;
  std::string text_;
  size_t folders_ = 0, files_ = 0, deleted_ = 0;
};

void WalkFat(TreePrinter& printer, const FatFileEntry& entry, const std::string& parentPath, uint64_t parentId,
             int depth) {
  if (!Shown(entry.state())) return;
  Row row = StartRow(entry, parentPath, depth);
  row.id = entry.firstCluster;
  row.parentId = parentId;
  row.created = FormatDosTime(entry.creationDate, entry.creationTime);
  row.modified = FormatDosTime(entry.writeDate, entry.writeTime);
  row.accessed = row.modified;  // the file list shows the write time as the access time
  printer.Add(row);
  for (const FatFileEntry& child : entry.children) WalkFat(printer, child, row.path, entry.firstCluster, depth + 1);
}

void WalkNtfs(TreePrinter& printer, const NtfsFileEntry& entry, const std::string& parentPath, int depth) {
  if (!Shown(entry.state())) return;
  Row row = StartRow(entry, parentPath, depth);
  row.id = entry.recordNumber;
  row.parentId = entry.parentNumber;
  row.created = FormatFileTime(entry.creationTime);
  row.modified = FormatFileTime(entry.modificationTime);
  row.accessed = FormatFileTime(entry.accessTime);
  printer.Add(row);
  for (const NtfsFileEntry& child : entry.children) WalkNtfs(printer, child, row.path, depth + 1);
}

// The carved files that start inside the partition, under their folder.
void WalkCarved(TreePrinter& printer, const DiskRecord& disk, const PartitionRecord& partition) {
  auto it = disk.carvedFiles.lower_bound(partition.startSector);
  const uint64_t end = partition.startSector + partition.sectorCount;
  if (it == disk.carvedFiles.end() || it->first >= end) return;
  static const std::string kDefaultName = "Extra Found Files";
  const std::string& folderName = disk.extraFoundFiles.name.empty() ? kDefaultName : disk.extraFoundFiles.name;
  Row folder{folderName, &folderName, kFolder, 0, 0, 0, "", "", "", 0};
  printer.Add(folder);
  for (; it != disk.carvedFiles.end() && it->first < end; ++it) {
    // Carved files are shown as deleted files, numbered by their start sector.
    Row row{folderName + "/" + it->second.name,
            &it->second.name,
            kDeletedFile,
            it->second.size,
            it->first,
            0,
            "",
            "",
            "",
            1};
    printer.Add(row);
  }
}

}  // namespace

bool PartitionUsesNtfsTree(const PartitionRecord& partition) { return IsNtfsKind(partition.fsKind); }

void PrintPartitionTree(const DiskRecord& disk, const PartitionRecord& partition, bool json, FILE* out) {
  TreePrinter printer(json, out);
  printer.Begin(disk, partition);
  const FileTree& tree = *partition.tree;
  if (PartitionUsesNtfsTree(partition)) {
    WalkNtfs(printer, tree.ntfsRoot, std::string(), 0);
    WalkNtfs(printer, tree.ntfsLost, std::string(), 0);
    if (!tree.ntfsExtension.children.empty()) WalkNtfs(printer, tree.ntfsExtension, std::string(), 0);
  } else {
    WalkFat(printer, tree.fatRoot, std::string(), 0, 0);
    WalkFat(printer, tree.fatLost, std::string(), 0, 0);
  }
  WalkCarved(printer, disk, partition);
  printer.End();
}

}  // namespace quorvel::cli
