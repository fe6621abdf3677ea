#pragma once
// What a path's bytes are stored on, so that a copy can refuse a target whose
// writes would land on its own source: the same image file, the same disk
// (through any partition, device-mapper or md device stacked on it), a loop
// device backed by the source image, or a file system living on the source.
#include <sys/types.h>
#include <set>
#include <string>
#include <utility>

namespace quorvel {

struct StorageFootprint {
  // Whole disks (names under /sys/block) the path is, or is a partition of, or
  // is stacked on: bytes read or written there are that disk's raw bytes.
  std::set<std::string> rawDisks;
  // Whole disks under a file system that holds one of the files below.
  std::set<std::string> fileSystemDisks;
  // Regular files involved: an image file itself, a loop device's backing file.
  std::set<std::pair<dev_t, ino_t>> files;
  // False when something on the way could not be examined.
  bool complete = true;
};

// The footprint of an existing regular file or block device. A path that does
// not exist yet (a new image file) is judged by its nearest existing folder:
// creating it writes into that folder's file system. Anything else (a folder,
// a character device) is examined as the file system it lives on.
StorageFootprint FootprintOfPath(const std::string& path);

// True when writing to target could change source's bytes: both involve the
// same file, the target writes raw to a disk the source is on or lives in a
// file system of, or the target's file system lives on a disk the source
// reads raw. Two different files in one file system do not collide. An
// incomplete footprint on either side answers true, so the caller refuses
// rather than writes blindly.
bool WriteReachesSource(const StorageFootprint& target, const StorageFootprint& source);

// The first mount point whose file system lives on one of the raw disks or
// files of footprint (a mounted partition of a target disk, a mounted loop
// device backed by a target file); empty when none is mounted.
std::string MountedOn(const StorageFootprint& footprint);

}  // namespace quorvel
