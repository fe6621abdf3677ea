#include "cli/disk_listing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/terminal_text.h"
#include "model/partition_texts.h"

namespace quorvel::cli {

size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    size_t len = 1;
    if (c >= 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else if (c >= 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xC0) {
      len = 2;
      cp = c & 0x1F;
    }
    for (size_t k = 1; k < len && i + k < text.size(); ++k) cp = (cp << 6) | (text[i + k] & 0x3F);
    i += len;
    bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
                (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    width += wide ? 2 : 1;
  }
  return width;
}

void PrintAlignedRows(const std::vector<std::vector<std::string>>& cells, size_t firstRightAligned,
                      size_t endRightAligned, FILE* out) {
  // Labels and names come from the disk: control characters are shown escaped.
  std::vector<std::vector<std::string>> rows = cells;
  for (auto& row : rows)
    for (std::string& cell : row) cell = TerminalSafe(cell);
  std::vector<size_t> widths;
  for (const auto& r : rows) {
    if (widths.size() < r.size()) widths.resize(r.size(), 0);
    for (size_t c = 0; c < r.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(r[c]));
  }
  for (const auto& r : rows) {
    std::string line;
    for (size_t c = 0; c < r.size(); ++c) {
      bool right = c >= firstRightAligned && c < endRightAligned;
      std::string pad(widths[c] - DisplayWidth(r[c]), ' ');
      line += right ? pad + r[c] : r[c] + (c + 1 < r.size() ? pad : "");
      if (c + 1 < r.size()) line += "  ";
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::fprintf(out, "%s\n", line.c_str());
  }
}

namespace {

using Row = std::vector<std::string>;

// The start column of a partition row: composite volumes have no start of
// their own (their members carry it).
std::string StartText(const PartitionRecord& p) {
  return p.volumeKind == kPlainVolume ? SizeText(p.startSector * 512) : std::string();
}

// Below a volume-manager volume: each member (disk and extent), or why the
// volume cannot be read.
void AddMemberRows(const PartitionRecord& p, std::vector<Row>& rows) {
  if (!p.unreadableReason.empty()) rows.push_back({"    (" + p.unreadableReason + ")", "", "", "", ""});
  for (const auto& [ordinal, m] : p.members) {
    std::string where = m.path.empty() ? "(disk " + MemberDiskIdText(m) + " not present)" : m.path;
    rows.push_back({"    #" + std::to_string(ordinal) + " " + where, "", "", SizeText(m.startSector * 512),
                    SizeText(m.sectorCount * 512)});
  }
}

// An LVM2 physical volume's group and logical volumes, as the metadata has them.
void PrintLvmJson(JsonWriter& json, const LvmValues& lvm) {
  json.Key("lvm").BeginObject();
  json.Field("group", lvm.groupName)
      .Field("extent_size", lvm.extentSize)
      .Field("dev_size", lvm.devSize)
      .Field("pe_start", lvm.peStart)
      .Field("pe_count", lvm.peCount);
  json.Key("logical_volumes").BeginArray();
  for (const LvmLogicalVolume& lv : lvm.logicalVolumes) {
    json.BeginObject().Field("name", lv.name).Field("size", lv.size).Field("segment_count", lv.segmentCount);
    json.Key("segments").BeginArray();
    for (const LvmSegment& s : lv.segments) {
      json.BeginObject()
          .Field("start_extent", s.startExtent)
          .Field("extent_count", s.extentCount)
          .Field("pv_name", s.pvName)
          .Field("stripe_count", s.stripeCount)
          .Field("pv_id", s.pvId)
          .Field("pv_start_extent", s.pvStartExtent)
          .EndObject();
    }
    json.EndArray().EndObject();
  }
  json.EndArray().EndObject();
}

}  // namespace

const char* OriginText(int32_t originCode) {
  switch (originCode) {
    case 1:
      return "重建";
    case 2:
      return "引导扇区";
    default:
      return "分区表";
  }
}

void PrintDiskTable(const std::vector<const DiskRecord*>& disks, bool withOrigin) {
  std::vector<Row> rows;
  rows.push_back({"磁盘", "标签", "文件类型", "起始地址", "大小"});
  if (withOrigin) rows.back().push_back("来源");
  for (const DiskRecord* disk : disks) {
    // A disk known only from a scan-result file has no size to show.
    const bool sizeKnown = disk->sizeBytes != 0 || !disk->devicePath.empty();
    rows.push_back({disk->Identity(), "", "", "0", sizeKnown ? SizeText(disk->sizeBytes) : ""});
    if (withOrigin) rows.back().push_back("");
    std::vector<std::string> texts = PartitionRowTexts(*disk);
    size_t i = 0;
    for (const PartitionRecord& p : disk->partitions) {
      rows.push_back(
          {"  " + texts[i++], p.volumeLabel, PartitionTypeText(p), StartText(p), SizeText(p.sectorCount * 512)});
      if (withOrigin) rows.back().push_back(OriginText(p.originCode));
      if (!p.volumeManager.empty()) AddMemberRows(p, rows);
    }
  }
  PrintAlignedRows(rows, 3, 5);  // start and size line up on the right
}

void WriteDiskJson(JsonWriter& json, const DiskRecord& disk, const std::function<void(JsonWriter&)>& extra) {
  json.BeginObject();
  json.Field("identity", disk.Identity()).Field("path", disk.devicePath);
  json.Key("number");
  // Images have no number; a dynamic-disk group is numbered by its name.
  if (disk.diskNumber.empty() || disk.diskKind != 0) {
    json.Null();
  } else {
    json.Number(std::strtoull(disk.diskNumber.c_str(), nullptr, 10));
  }
  json.Field("size", disk.sizeBytes)
      .Field("cylinders", disk.cylinders)
      .Field("tracks_per_cylinder", disk.tracksPerCylinder)
      .Field("sectors_per_track", disk.sectorsPerTrack)
      .Field("kind", disk.diskKind)
      .Field("disk_id", disk.diskIdText)
      .Field("group_id", disk.groupIdText);
  if (!disk.lvm.logicalVolumes.empty() || disk.lvm.extentSize != 0) PrintLvmJson(json, disk.lvm);
  json.Key("partitions").BeginArray();
  std::vector<std::string> texts = PartitionRowTexts(disk);
  size_t i = 0;
  for (const PartitionRecord& p : disk.partitions) {
    json.BeginObject()
        .Field("row", texts[i++])
        .Field("name", p.name)
        .Field("drive", p.driveLetter)
        .Field("label", p.volumeLabel)
        .Field("type", PartitionTypeText(p))
        .Field("fs_kind", uint32_t{p.fsKind})
        .Field("start_sector", p.startSector)
        .Field("sector_count", p.sectorCount)
        .Field("role", uint32_t{p.role})
        .Field("origin", p.originCode)
        .Field("volume_kind", uint32_t{p.volumeKind})
        .Field("stripe_size", uint32_t{p.stripeSize})
        .Field("volume_manager", p.volumeManager)
        .Field("volume", p.volumeId)
        .Field("unreadable", p.unreadableReason);
    json.Key("members").BeginArray();
    for (const auto& [ordinal, m] : p.members) {
      json.BeginObject()
          .Field("ordinal", uint32_t{ordinal})
          .Field("disk_id", MemberDiskIdText(m))
          .Field("path", m.path)
          .Field("start_sector", m.startSector)
          .Field("sector_count", m.sectorCount)
          .EndObject();
    }
    json.EndArray().EndObject();
  }
  json.EndArray();
  if (extra) extra(json);
  json.EndObject();
}

void WriteScanCollectionsJson(JsonWriter& json, const DiskRecord& disk) {
  json.Key("carved").BeginArray();
  for (const auto& [sector, file] : disk.carvedFiles)
    json.BeginObject().Field("start_sector", sector).Field("size", file.size).Field("name", file.name).EndObject();
  json.EndArray();
  json.Key("mft_fragments").BeginArray();
  for (const MftFragment& f : disk.mftFragments)
    json.BeginObject().Field("start_sector", f.startSector).Field("sector_count", f.sectorCount).EndObject();
  json.EndArray();
  json.Field("directory_sectors", static_cast<uint64_t>(disk.directorySectors.size()));
}

std::string DisksJson(const std::vector<const DiskRecord*>& disks, std::optional<bool> complete) {
  JsonWriter json;
  json.BeginObject();
  if (complete) json.Key("complete").Bool(*complete);
  json.Key("disks").BeginArray();
  for (const DiskRecord* disk : disks) WriteDiskJson(json, *disk);
  json.EndArray().EndObject();
  return json.text();
}

}  // namespace quorvel::cli
