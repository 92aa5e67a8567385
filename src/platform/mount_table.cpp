#include "platform/mount_table.h"

#include <algorithm>
#include <iterator>
#include <sstream>

namespace nimbra {
namespace {

// The walker's kernel pseudo file systems, then those that hold no data of their own.
constexpr std::string_view kNoStoredData[] = {
    "proc",   "sysfs",      "cgroup",   "cgroup2",  "devtmpfs", "devpts",      "debugfs",
    "tracefs", "securityfs", "pstore",  "bpf",      "configfs", "fusectl",     "mqueue",
    "hugetlbfs", "binfmt_misc", "autofs", "efivarfs", "tmpfs",  "ramfs",       "squashfs",
    "nsfs",   "fuse.portal", "fuse.gvfsd-fuse"};

constexpr std::string_view kPrivateTrees[] = {"/proc", "/sys", "/dev", "/run", "/snap"};

bool isAtOrBelow(std::string_view path, std::string_view folder) {
  return path == folder || (path.starts_with(folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

// The kernel writes space, tab, newline and backslash in these fields as \ and three octal digits.
std::string unescapeOctal(std::string_view field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() &&
        std::all_of(field.begin() + i + 1, field.begin() + i + 4, [](char c) { return c >= '0' && c <= '7'; })) {
      text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
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

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    // id parent major:minor root mount-point options [optional fields...] - type source super-options
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) fields.push_back(word);
    const auto separator = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 6 || separator - fields.begin() < 6 || fields.end() - separator < 3) continue;
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
  return std::ranges::none_of(kPrivateTrees, [&](std::string_view folder) { return isAtOrBelow(mount.mountPoint, folder); });
}

}  // namespace nimbra
