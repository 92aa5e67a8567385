#pragma once

// The mount table as /proc/self/mountinfo states it: one parser, used by the walker (which
// directories are mount points, which are kernel pseudo file systems), by deletion (whether an
// item holds a mount before anything runs with administrator rights) and by the volume list
// (which mounts hold stored data).

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/block_device.h"

namespace nimbra {

struct MountEntry {
  DeviceRef device;
  std::string mountPoint;  // canonical, octal escapes (\040 for a space) already decoded
  std::string type;        // "ext4", "fuse.sshfs" ...
  friend bool operator==(const MountEntry&, const MountEntry&) = default;
};

// One entry per well-formed line, in the table's order; malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// This process's mount table, read now; empty when /proc is not mounted.
std::vector<MountEntry> readMountTable();

// Whether a mount stores data someone would want to see as a volume: not a kernel pseudo file
// system, not a memory file system, not a read-only image or a container layer (except the
// root itself), and not one of the system's private mounts below /proc, /sys, /dev, /run and
// /snap. Removable media under /run/media stay.
bool holdsStoredData(const MountEntry& mount);

// `path` lies strictly below the directory `dir` (both canonical, no trailing "/").
bool isStrictlyBelow(std::string_view path, std::string_view dir);

// The canonical path of what the descriptor `fd` names, as the kernel reports it through
// /proc/self/fd; "" when it cannot tell (no /proc, a path too long, a deleted folder).
std::string canonicalPathOf(int fd);

// Whether `path` lies on a kernel pseudo file system (procfs, sysfs, devtmpfs ...), whose
// files hold no stored data whatever sizes they report (/proc/kcore: 128 TB).
bool isOnPseudoFileSystem(const std::string& path);
// The same question for an open directory, by its statfs magic; devtmpfs shares the magic of
// tmpfs, and only the table tells the two apart.
bool isPseudoFileSystemMagic(unsigned long magic);
bool isDevTmpfs(dev_t device, const std::vector<MountEntry>& mounts);

}  // namespace nimbra
