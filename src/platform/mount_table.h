#pragma once

// The mount table as this process sees it (/proc/self/mountinfo), and the kernel pseudo file
// systems that hold no stored data. The walker asks it which directories are mount points;
// deletion asks it whether an item holds one before anything runs with administrator rights.

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace nimbra {

struct MountPoint {
  std::string path;  // canonical, as the kernel names it, escapes undone
  dev_t device = 0;
  std::string type;  // "ext4", "proc", "fuse.sshfs" ...
};

// Every mount in table order; empty when /proc is not mounted. One read of a kernel file.
std::vector<MountPoint> readMountPoints();

// `path` lies strictly below the directory `dir` (both canonical, no trailing "/").
bool isStrictlyBelow(std::string_view path, std::string_view dir);

// The canonical path of what the descriptor `fd` names, as the kernel reports it through
// /proc/self/fd; "" when it cannot tell (no /proc, a path too long, a deleted folder).
std::string canonicalPathOf(int fd);

// Whether `path` lies on a kernel pseudo file system (procfs, sysfs, devtmpfs ...), whose
// files hold no stored data whatever sizes they report (/proc/kcore: 128 TB).
bool isOnPseudoFileSystem(const std::string& path);
// The same question for an open directory, by its statfs magic: `mounts` is asked only for a
// tmpfs-like magic, which devtmpfs shares with tmpfs and which only the table tells apart.
bool isPseudoFileSystemMagic(unsigned long magic);
bool isDevTmpfs(dev_t device, const std::vector<MountPoint>& mounts);

}  // namespace nimbra
