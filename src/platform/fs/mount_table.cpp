#include "platform/fs/mount_table.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <iterator>
#include <sstream>

#include "base/descriptor.h"
#include "base/path_parts.h"

namespace nimbra {
namespace {

// Kernel file systems that hold no stored data, by their statfs magic. devtmpfs is missing:
// it reports the magic of tmpfs (or ramfs) and is told apart by its name in the mount table.
constexpr unsigned long kConfigFsMagic = 0x62656570;
constexpr unsigned long kFuseControlMagic = 0x65735543;
constexpr unsigned long kMqueueMagic = 0x19800202;
constexpr unsigned long kPseudoFsMagics[] = {
    PROC_SUPER_MAGIC,   SYSFS_MAGIC,     CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC,
    DEVPTS_SUPER_MAGIC, DEBUGFS_MAGIC,   TRACEFS_MAGIC,      SECURITYFS_MAGIC,
    PSTOREFS_MAGIC,     BPF_FS_MAGIC,    kConfigFsMagic,     kFuseControlMagic,
    kMqueueMagic,       HUGETLBFS_MAGIC, BINFMTFS_MAGIC,     AUTOFS_SUPER_MAGIC,
    EFIVARFS_MAGIC};

// The walker's kernel pseudo file systems, then those that hold no data of their own.
constexpr std::string_view kNoStoredData[] = {
    "proc",    "sysfs",   "cgroup",     "cgroup2",     "devtmpfs",    "devpts",
    "debugfs", "tracefs", "securityfs", "pstore",      "bpf",         "configfs",
    "fusectl", "mqueue",  "hugetlbfs",  "binfmt_misc", "autofs",      "efivarfs",
    "tmpfs",   "ramfs",   "squashfs",   "nsfs",        "fuse.portal", "fuse.gvfsd-fuse"};

constexpr std::string_view kPrivateTrees[] = {"/proc", "/sys", "/dev", "/run", "/snap"};

bool isAtOrBelow(std::string_view path, std::string_view folder) {
  return path == folder ||
         (path.starts_with(folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

// The kernel writes space, tab, newline and backslash in these fields as \ and three octal digits.
std::string unescapeOctal(std::string_view field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() &&
        std::all_of(field.begin() + i + 1, field.begin() + i + 4,
                    [](char c) { return c >= '0' && c <= '7'; })) {
      text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

bool parseDeviceNumbers(const std::string& field, DeviceRef& device) {
  unsigned major = 0, minor = 0;
  char colon = 0;
  std::istringstream in(field);
  if (!(in >> major >> colon >> minor) || colon != ':') return false;
  device.major = major;
  device.minor = minor;
  return true;
}

// The whole of a small kernel file, read in a few large pieces; "" when it cannot be read.
std::string readKernelFile(const char* path) {
  constexpr size_t kPiece = 16 * 1024;
  std::string text;
  Descriptor fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return text;
  for (ssize_t n = 1; n > 0;) {
    size_t used = text.size();
    text.resize(used + kPiece);
    n = ::read(fd.get(), text.data() + used, kPiece);
    text.resize(used + static_cast<size_t>(std::max<ssize_t>(n, 0)));
  }
  return text;
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    // id parent major:minor root mount-point options [optional fields...] - type source
    // super-options
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) fields.push_back(word);
    const auto separator = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 6 || separator - fields.begin() < 6 || fields.end() - separator < 3)
      continue;
    MountEntry mount;
    if (!parseDeviceNumbers(fields[2], mount.device)) continue;
    mount.mountPoint = unescapeOctal(fields[4]);
    mount.type = unescapeOctal(separator[1]);
    mount.device.source = unescapeOctal(separator[2]);
    mounts.push_back(std::move(mount));
  }
  return mounts;
}

bool holdsStoredData(const MountEntry& mount) {
  if (std::ranges::find(kNoStoredData, mount.type) != std::end(kNoStoredData)) return false;
  if (mount.type == "overlay" && mount.mountPoint != "/") return false;
  if (isAtOrBelow(mount.mountPoint, "/run/media")) return true;
  return std::ranges::none_of(kPrivateTrees, [&](std::string_view folder) {
    return isAtOrBelow(mount.mountPoint, folder);
  });
}

std::vector<MountEntry> readMountTable() {
  return parseMountInfo(readKernelFile("/proc/self/mountinfo"));
}

bool isStrictlyBelow(std::string_view path, std::string_view dir) {
  if (dir == "/") return path.size() > 1 && path.front() == '/';
  return path.size() > dir.size() && path.starts_with(dir) && path[dir.size()] == '/';
}

std::string canonicalPathOf(int fd) {
  char link[32];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  std::string canonical(PATH_MAX, '\0');
  ssize_t length = ::readlink(link, canonical.data(), canonical.size());
  if (length <= 0 || static_cast<size_t>(length) >= canonical.size() || canonical[0] != '/')
    return {};
  canonical.resize(static_cast<size_t>(length));
  // A folder removed while open reads "/path (deleted)": that is no path at all.
  if (canonical.ends_with(" (deleted)")) return {};
  return canonical;
}

bool isPseudoFileSystemMagic(unsigned long magic) {
  return std::find(std::begin(kPseudoFsMagics), std::end(kPseudoFsMagics), magic) !=
         std::end(kPseudoFsMagics);
}

bool isDevTmpfs(dev_t device, const std::vector<MountEntry>& mounts) {
  for (const MountEntry& mount : mounts) {
    if (makedev(mount.device.major, mount.device.minor) == device) return mount.type == "devtmpfs";
  }
  return false;
}

bool isOnPseudoFileSystem(const std::string& path) {
  if (namesNoFile(path)) return false;
  struct statfs info {};
  if (::statfs(path.c_str(), &info) != 0) return false;
  auto magic = static_cast<unsigned long>(info.f_type);
  if (isPseudoFileSystemMagic(magic)) return true;
  if (magic != TMPFS_MAGIC && magic != RAMFS_MAGIC) return false;
  struct stat device {};
  return ::stat(path.c_str(), &device) == 0 && isDevTmpfs(device.st_dev, readMountTable());
}

}  // namespace nimbra
