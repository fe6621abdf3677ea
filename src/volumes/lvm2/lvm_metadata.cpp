#include "volumes/lvm2/lvm_metadata.h"

#include <charconv>

#include "volumes/lvm2/lvm_text.h"

namespace quorvel {

namespace {

// Bounds what a damaged text can make us loop over.
constexpr uint64_t kMaxSegments = 65536;

std::string WithoutDashes(std::string_view id) {
  std::string out;
  for (char c : id)
    if (c != '-') out.push_back(c);
  return out;
}

// The first entry of a stripes list, `"pv0", 0`: its name and start extent.
void ParseFirstStripe(std::string_view stripes, LvmSegment& segment) {
  size_t open = stripes.find('"');
  size_t close = open == std::string_view::npos ? open : stripes.find('"', open + 1);
  if (close == std::string_view::npos) return;
  segment.pvName = std::string(stripes.substr(open + 1, close - open - 1));
  size_t comma = stripes.find(',', close);
  if (comma == std::string_view::npos) return;
  size_t digits = stripes.find_first_of("0123456789", comma);
  if (digits == std::string_view::npos) return;
  std::from_chars(stripes.data() + digits, stripes.data() + stripes.size(), segment.pvStartExtent);
}

// The body of a block: what follows its opening "{".
std::string_view Body(std::string_view block) {
  size_t open = block.find('{');
  return open == std::string_view::npos ? std::string_view() : block.substr(open + 1);
}

void ParsePhysicalVolumes(std::string_view text, std::string_view pvUuid, LvmValues& lvm) {
  LvmChildBlocks pvs(Body(LvmNamedBlock(text, "physical_volumes")));
  std::string name;
  std::string_view block;
  while (pvs.Next(name, block)) {
    std::string id = LvmQuoted(block, "id");
    lvm.physicalVolumes.emplace_back(name, id);
    if (LvmIdsMatch(id, pvUuid)) {
      lvm.devSize = LvmNumber(block, "dev_size");
      lvm.peStart = LvmNumber(block, "pe_start");
      lvm.peCount = static_cast<uint32_t>(LvmNumber(block, "pe_count"));
    }
  }
}

std::string PvIdOf(const LvmValues& lvm, const std::string& name) {
  for (const auto& [pvName, id] : lvm.physicalVolumes)
    if (pvName == name) return id;
  return std::string();
}

void ParseLogicalVolumes(std::string_view text, LvmValues& lvm) {
  LvmChildBlocks lvs(Body(LvmNamedBlock(text, "logical_volumes")));
  std::string name;
  std::string_view block;
  while (lvs.Next(name, block)) {
    LvmLogicalVolume lv;
    lv.name = name;
    lv.segmentCount = static_cast<uint32_t>(std::min<uint64_t>(LvmNumber(block, "segment_count"), kMaxSegments));
    for (uint32_t i = 1; i <= lv.segmentCount; ++i) {
      std::string_view seg = LvmNamedBlock(block, "segment" + std::to_string(i));
      if (seg.empty()) break;
      LvmSegment segment;
      segment.startExtent = static_cast<uint32_t>(LvmNumber(seg, "start_extent"));
      segment.extentCount = static_cast<uint32_t>(LvmNumber(seg, "extent_count"));
      segment.stripeCount = static_cast<uint32_t>(LvmNumber(seg, "stripe_count"));
      ParseFirstStripe(LvmValue(seg, "stripes"), segment);
      segment.pvId = PvIdOf(lvm, segment.pvName);
      lv.size += uint64_t{segment.extentCount} * lvm.extentSize;
      lv.segments.push_back(std::move(segment));
    }
    lvm.logicalVolumes.push_back(std::move(lv));
  }
}

}  // namespace

bool LvmIdsMatch(std::string_view metadataId, std::string_view labelUuid) {
  if (metadataId.empty()) return false;
  return metadataId == labelUuid || WithoutDashes(metadataId) == WithoutDashes(labelUuid);
}

void ParseLvmMetadata(std::string_view text, std::string_view pvUuid, LvmValues& lvm, std::string& groupIdText) {
  size_t open = text.find('{');
  if (open != std::string_view::npos) {
    std::string_view head = text.substr(0, open);
    while (!head.empty() && (head.back() == ' ' || head.back() == '\t' || head.back() == '\n')) head.remove_suffix(1);
    size_t word = head.find_last_of(" \t\r\n");
    lvm.groupName = std::string(word == std::string_view::npos ? head : head.substr(word + 1));
  }
  groupIdText = LvmQuoted(text, "id");
  lvm.extentSize = static_cast<uint32_t>(LvmNumber(text, "extent_size"));
  ParsePhysicalVolumes(text, pvUuid, lvm);
  ParseLogicalVolumes(text, lvm);
}

}  // namespace quorvel
