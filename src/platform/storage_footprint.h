#pragma once
// What a path's bytes are stored on, so that anything that writes (a save, a
// scan-result file, an image copy, its mapfile) can refuse a target whose
// writes would land on its own source: the same image file, a mount of it
// (loop device or FUSE driver), the same disk (through any partition,
// device-mapper or md device stacked on it), or a file system living on the
// source. This is the one answer to "would writing here reach the source";
// the layers above map their records to the paths asked about.
#include <sys/types.h>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {

using FileId = std::pair<dev_t, ino_t>;

struct StorageFootprint {
  // Whole disks (names under /sys/block) the path is, or is a partition of, or
  // is stacked on: bytes read or written there are that disk's raw bytes.
  std::set<std::string> rawDisks;
  // Whole disks under a file system the path lives in (or a file below it
  // lives in).
  std::set<std::string> fileSystemDisks;
  // Files whose bytes are the path's bytes: an image file itself, the backing
  // file of a loop device named directly.
  std::set<FileId> files;
  // Files holding a file system the path lives in (a loop device's backing
  // file, an image a FUSE driver mounts), each with the device number of that
  // file system: writes through it change the file, but only where that file
  // system puts them, never inside another file of it.
  std::set<std::pair<FileId, dev_t>> containers;
  // False when something on the way could not be examined.
  bool complete = true;

  // The path's own files and the files holding it.
  bool Involves(const FileId& file) const;
};

// The footprint of a path to be written. An existing regular file or block
// device is examined as itself; a path that does not exist yet (a new image
// file, a folder still to be made) is judged by its nearest existing folder:
// creating it writes into that folder's file system. Anything else (a folder,
// a character device) is examined as the file system it lives on.
StorageFootprint FootprintOfPath(const std::string& path);

// The footprint of a source read from the given paths (a disk or image, and
// each member of a volume spread over several). Empty paths and paths that no
// longer exist (a member not present) hold none of the source's bytes and are
// skipped; with no path left the footprint is incomplete.
StorageFootprint FootprintOfSources(const std::vector<std::string>& sourcePaths);

// True when writing to target could change source's bytes: target is one of
// the source's files, or writes into a file system stored in one; target
// writes raw to a disk the source is on or lives in a file system of; or the
// target's file system lives on a disk the source reads raw. Two different
// files in one file system do not collide: a folder beside an image file is
// no part of the image. An incomplete footprint on either side answers true,
// so the caller asks or refuses rather than writes blindly.
bool WriteReachesSource(const StorageFootprint& target, const StorageFootprint& source);

// WriteReachesSource for paths: writing at targetPath (a folder, or a file
// to be written) against the source read from sourcePaths.
bool WritingReachesSource(const std::string& targetPath, const std::vector<std::string>& sourcePaths);

// The first mount point whose file system lives on one of the raw disks or
// files of footprint (a mounted partition of a target disk, a mounted loop
// device backed by a target file); empty when none is mounted.
std::string MountedOn(const StorageFootprint& footprint);

}  // namespace quorvel
