#pragma once
// The hidden key a file-page row carries: which entry of the partition's tree
// (or which carved file) it stands for. Valid until the tree is emptied, which
// only happens together with emptying the lists.
#include <QMetaType>
#include <cstdint>

#include "model/file_tree.h"

namespace quorvel {

struct FileRowKey {
  enum Kind : int { kNone = 0, kFat, kNtfs, kCarvedFolder, kCarvedFile };
  Kind kind = kNone;
  FatFileEntry* fat = nullptr;
  NtfsFileEntry* ntfs = nullptr;
  uint64_t carvedSector = 0;  // map key of a carved file
};

}  // namespace quorvel

Q_DECLARE_METATYPE(quorvel::FileRowKey)
