#pragma once

// The mount table as /proc/self/mountinfo states it, and which of its mounts hold stored data.

#include <string>
#include <string_view>
#include <vector>

#include "platform/system_sources.h"

namespace nimbra {

struct MountEntry {
  DeviceRef device;
  std::string mountPoint;  // octal escapes (\040 for a space) already decoded
  std::string type;        // "ext4", "fuse.sshfs" ...
  friend bool operator==(const MountEntry&, const MountEntry&) = default;
};

// One entry per well-formed line, in the table's order; malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// Whether a mount stores data someone would want to see as a volume: not a kernel pseudo file
// system, not a memory file system, not a read-only image or a container layer (except the
// root itself), and not one of the system's private mounts below /proc, /sys, /dev, /run and
// /snap. Removable media under /run/media stay.
bool holdsStoredData(const MountEntry& mount);

}  // namespace nimbra
