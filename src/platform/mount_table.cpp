#include "platform/mount_table.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <optional>

#include "platform/descriptor.h"
#include "platform/path_parts.h"

namespace nimbra {
namespace {

// Kernel file systems that hold no stored data, by their statfs magic. devtmpfs is missing:
// it reports the magic of tmpfs (or ramfs) and is told apart by its name in the mount table.
constexpr unsigned long kConfigFsMagic = 0x62656570;
constexpr unsigned long kFuseControlMagic = 0x65735543;
constexpr unsigned long kMqueueMagic = 0x19800202;
constexpr unsigned long kPseudoFsMagics[] = {
    PROC_SUPER_MAGIC, SYSFS_MAGIC,       CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC, DEVPTS_SUPER_MAGIC,
    DEBUGFS_MAGIC,    TRACEFS_MAGIC,     SECURITYFS_MAGIC,   PSTOREFS_MAGIC,      BPF_FS_MAGIC,
    kConfigFsMagic,   kFuseControlMagic, kMqueueMagic,       HUGETLBFS_MAGIC,     BINFMTFS_MAGIC,
    AUTOFS_SUPER_MAGIC, EFIVARFS_MAGIC};

// Mount points in the mount table escape space, tab, newline and backslash as \ooo.
std::string unescapeMountPath(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && text.size() - i >= 4) {
      int value = 0;
      bool octal = true;
      for (size_t k = 1; k <= 3; ++k) {
        char digit = text[i + k];
        octal = octal && digit >= '0' && digit <= '7';
        value = value * 8 + (digit - '0');
      }
      if (octal) {
        out += static_cast<char>(value);
        i += 3;
        continue;
      }
    }
    out += text[i];
  }
  return out;
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

// Reads "major:minor", the whole of `field`.
std::optional<dev_t> parseDevice(std::string_view field) {
  unsigned long major = 0, minor = 0;
  size_t colon = field.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  auto number = [](std::string_view digits, unsigned long& out) {
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
    return error == std::errc() && end == digits.data() + digits.size();
  };
  if (!number(field.substr(0, colon), major) || !number(field.substr(colon + 1), minor)) {
    return std::nullopt;
  }
  return makedev(major, minor);
}

}  // namespace

std::vector<MountPoint> readMountPoints() {
  std::vector<MountPoint> points;
  const std::string text = readKernelFile("/proc/self/mountinfo");
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    // "36 35 98:0 /root /mount/point options [tags] - type source super-options"
    std::string_view fields[5];
    size_t pos = 0;
    for (auto& field : fields) {
      size_t space = std::min(line.find(' ', pos), line.size());
      field = line.substr(std::min(pos, line.size()), space - std::min(pos, space));
      pos = space + 1;
    }
    size_t separator = line.find(" - ");
    std::optional<dev_t> device = parseDevice(fields[2]);
    if (!device || fields[4].empty() || separator == std::string_view::npos) continue;
    std::string_view rest = line.substr(separator + 3);
    points.push_back({unescapeMountPath(fields[4]), *device, std::string(rest.substr(0, rest.find(' ')))});
  }
  return points;
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
  if (length <= 0 || static_cast<size_t>(length) >= canonical.size() || canonical[0] != '/') return {};
  canonical.resize(static_cast<size_t>(length));
  // A folder removed while open reads "/path (deleted)": that is no path at all.
  if (canonical.ends_with(" (deleted)")) return {};
  return canonical;
}

bool isPseudoFileSystemMagic(unsigned long magic) {
  return std::find(std::begin(kPseudoFsMagics), std::end(kPseudoFsMagics), magic) != std::end(kPseudoFsMagics);
}

bool isDevTmpfs(dev_t device, const std::vector<MountPoint>& mounts) {
  for (const MountPoint& mount : mounts) {
    if (mount.device == device) return mount.type == "devtmpfs";
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
  return ::stat(path.c_str(), &device) == 0 && isDevTmpfs(device.st_dev, readMountPoints());
}

}  // namespace nimbra
