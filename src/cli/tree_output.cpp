#include "cli/tree_output.h"

#include <vector>

#include "cli/json_writer.h"
#include "cli/terminal_text.h"
#include "model/partition_texts.h"

namespace quorvel::cli {

namespace {

// Text tables indent this many levels at most; deeper rows say their depth.
constexpr size_t kMaxIndentLevels = 64;

// One printed row, whichever form the entry has.
struct Row {
  const std::string* path;
  const std::string* name;
  uint8_t state;
  uint64_t size;
  uint64_t id;
  uint64_t parentId;
  TimeText created, modified, accessed;  // empty: no time
  size_t depth;
  bool unreadable;
};

bool Shown(uint8_t state) { return state >= kDeletedFolder && state <= kFile; }

// ,"key":"time" or ,"key":null
void AppendTime(std::string& out, std::string_view key, const TimeText& time) {
  out += key;
  if (time.size == 0)
    out += "null";
  else
    AppendJsonString(out, time.view());
}

class TreePrinter {
 public:
  TreePrinter(bool json, FILE* out) : json_(json), out_(out) {}

  void Begin(const DiskRecord& disk, const PartitionRecord& partition, bool complete) {
    if (json_) {
      // Written piece by piece so a huge tree never sits in memory twice.
      JsonWriter head;
      head.BeginObject();
      head.Field("disk", disk.Identity()).Field("partition", partition.name).Field("fs", PartitionTypeText(partition));
      // NTFS stores UTC and is shown at UTC+8; FAT stores the writer's local time.
      head.Key("time_zone");
      if (IsNtfsKind(partition.fsKind))
        head.String("+08:00");
      else if (IsFat16Kind(partition.fsKind) || IsFat32Kind(partition.fsKind))
        head.String("local");
      else
        head.Null();
      head.Key("complete").Bool(complete);
      text_ = head.text() + ",\"entries\":[";
      return;
    }
    text_ += "磁盘 " + TerminalSafe(disk.Identity()) + "  分区 " + TerminalSafe(partition.name) + "  " +
             PartitionTypeText(partition) + "\n";
    text_ += "状态          大小          创建时间             修改时间             编号        名称\n";
  }

  void Add(const Row& row) {
    if (IsFolderState(row.state))
      ++folders_;
    else
      ++files_;
    if (IsDeletedState(row.state)) ++deleted_;
    if (row.unreadable) ++unreadable_;
    if (json_) {
      // Rows have a fixed shape: written straight into the output buffer,
      // the keys as literals (half the listing's time went to a general
      // writer per row).
      if (folders_ + files_ > 1) text_ += ',';
      text_ += "{\"path\":";
      AppendJsonString(text_, *row.path);
      text_ += ",\"name\":";
      AppendJsonString(text_, *row.name);
      text_ += ",\"state\":";
      AppendJsonNumber(text_, row.state);
      text_ += ",\"state_text\":";
      AppendJsonString(text_, EntryStateText(row.state));
      text_ += ",\"size\":";
      AppendJsonNumber(text_, row.size);
      text_ += ",\"id\":";
      AppendJsonNumber(text_, row.id);
      text_ += ",\"parent_id\":";
      AppendJsonNumber(text_, row.parentId);
      AppendTime(text_, ",\"created\":", row.created);
      AppendTime(text_, ",\"modified\":", row.modified);
      AppendTime(text_, ",\"accessed\":", row.accessed);
      text_ += row.unreadable ? ",\"unreadable\":true}" : ",\"unreadable\":false}";
      if (text_.size() > (1u << 20)) Flush();
      return;
    }
    // The state texts are four or five wide characters: pad to 12 columns.
    const std::string state = EntryStateText(row.state);
    text_ += state;
    text_.append(14 - state.size() / 3 * 2, ' ');
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "%12llu  %19s  %19s  %10llu  ", static_cast<unsigned long long>(row.size),
                  row.created.text, row.modified.text, static_cast<unsigned long long>(row.id));
    text_ += numbers;
    if (row.depth > kMaxIndentLevels) {
      text_.append(kMaxIndentLevels * 2, ' ');
      text_ += "[depth " + std::to_string(row.depth) + "] ";
    } else {
      text_.append(row.depth * 2, ' ');
    }
    text_ += TerminalSafe(*row.name);
    if (IsFolderState(row.state)) text_ += '/';
    if (row.unreadable) text_ += "  [unreadable]";
    text_ += '\n';
    if (text_.size() > (1u << 20)) Flush();
  }

  void End() {
    if (json_) {
      text_ += "]}\n";
      Flush();
      return;
    }
    char summary[200];
    std::snprintf(summary, sizeof summary, "%zu 个文件夹, %zu 个文件, 其中 %zu 项已删除\n", folders_, files_, deleted_);
    text_ += summary;
    if (unreadable_) {
      std::snprintf(summary, sizeof summary, "%zu entries could not be read in full (marked [unreadable])\n",
                    unreadable_);
      text_ += summary;
    }
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
  size_t folders_ = 0, files_ = 0, deleted_ = 0, unreadable_ = 0;
};

// The fields a FAT and an NTFS entry fill alike.
template <typename Entry>
Row StartRow(const Entry& entry, const std::string& path, size_t depth) {
  Row row;
  row.path = &path;
  row.name = &entry.name;
  row.state = entry.state();
  row.size = entry.size;
  row.depth = depth;
  row.unreadable = entry.unreadable;
  return row;
}

void WalkFat(TreePrinter& printer, const FatFileEntry& top) {
  WalkPath path;
  std::vector<uint64_t> clusterAt;  // first cluster of the folder open at each depth
  VisitTree(top, [&](const FatFileEntry& entry, size_t depth) {
    if (!Shown(entry.state())) return false;
    Row row = StartRow(entry, path.Enter(depth, entry.name), depth);
    row.id = entry.firstCluster;
    // The parent folder's first cluster (0 below a FAT16 root and for the special folders).
    row.parentId = depth == 0 ? 0 : clusterAt[depth - 1];
    clusterAt.resize(depth);
    clusterAt.push_back(entry.firstCluster);
    row.created = DosTimeText(entry.creationDate, entry.creationTime);
    row.modified = DosTimeText(entry.writeDate, entry.writeTime);
    row.accessed = row.modified;  // the file list shows the write time as the access time
    printer.Add(row);
    return true;
  });
}

void WalkNtfs(TreePrinter& printer, const NtfsFileEntry& top) {
  WalkPath path;
  VisitTree(top, [&](const NtfsFileEntry& entry, size_t depth) {
    if (!Shown(entry.state())) return false;
    Row row = StartRow(entry, path.Enter(depth, entry.name), depth);
    row.id = entry.recordNumber;
    row.parentId = entry.parentNumber;
    row.created = FileTimeText(entry.creationTime);
    row.modified = FileTimeText(entry.modificationTime);
    row.accessed = FileTimeText(entry.accessTime);
    printer.Add(row);
    return true;
  });
}

// The carved files that start inside the partition, under their folder.
void WalkCarved(TreePrinter& printer, const DiskRecord& disk, const PartitionRecord& partition) {
  auto it = disk.carvedFiles.lower_bound(partition.startSector);
  const uint64_t end = partition.startSector + partition.sectorCount;
  if (it == disk.carvedFiles.end() || it->first >= end) return;
  static const std::string kDefaultName = "Extra Found Files";
  const std::string& folderName = disk.extraFoundFiles.name.empty() ? kDefaultName : disk.extraFoundFiles.name;
  Row folder{&folderName, &folderName, kFolder, 0, 0, 0, {}, {}, {}, 0, false};
  printer.Add(folder);
  std::string path;
  for (; it != disk.carvedFiles.end() && it->first < end; ++it) {
    // Carved files are shown as deleted files, numbered by their start sector.
    path = folderName + "/" + it->second.name;
    Row row{&path, &it->second.name, kDeletedFile, it->second.size, it->first, 0, {}, {}, {}, 1, false};
    printer.Add(row);
  }
}

}  // namespace

bool PartitionUsesNtfsTree(const PartitionRecord& partition) { return IsNtfsKind(partition.fsKind); }

void PrintPartitionTree(const DiskRecord& disk, const PartitionRecord& partition, bool json, FILE* out, bool complete) {
  TreePrinter printer(json, out);
  printer.Begin(disk, partition, complete);
  const FileTree& tree = *partition.tree;
  if (PartitionUsesNtfsTree(partition)) {
    WalkNtfs(printer, tree.ntfsRoot);
    WalkNtfs(printer, tree.ntfsLost);
    if (!tree.ntfsExtension.children.empty()) WalkNtfs(printer, tree.ntfsExtension);
  } else {
    WalkFat(printer, tree.fatRoot);
    WalkFat(printer, tree.fatLost);
  }
  WalkCarved(printer, disk, partition);
  printer.End();
}

}  // namespace quorvel::cli
