#pragma once
// "Is the target folder on the source?" - saving recovered files onto the
// drive they come from could overwrite the very sectors being recovered.
#include <sys/types.h>
#include <string>
#include <vector>

namespace quorvel {

// True when writing into targetFolder could land on the source:
// - source is a block device (a physical disk): the target's file system lives
//   on that disk, on any of its partitions, or on a device stacked on them
//   (device-mapper, LVM, RAID holders); for a loop device also when the target
//   shares the file system of the loop's backing file;
// - source is an image file: the target lies on the same file system as the
//   image file;
// Every path of sourcePaths is judged so (empty paths are skipped): the disk,
// and for a composite volume each member's disk.
// A target folder that does not exist yet is judged by its nearest existing
// parent. When the target cannot be examined at all the answer is true, so
// the caller asks rather than writes blindly.
bool TargetIsOnSource(const std::string& targetFolder, const std::vector<std::string>& sourcePaths);

// The st_dev of path, or of its nearest existing parent (a target folder may
// not exist yet). False when nothing on the way can be examined.
bool NearestExistingDevice(const std::string& path, dev_t& dev);

// The sources (decoded) of the mounts whose file system has device number dev,
// from /proc/self/mountinfo.
std::vector<std::string> MountSourcesOf(dev_t dev);

}  // namespace quorvel
