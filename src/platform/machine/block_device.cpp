#include "platform/machine/block_device.h"

#include <blkid/blkid.h>
#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>

#include "base/udev_name.h"

namespace nimbra {
namespace {

constexpr const char* kByLabel = "/dev/disk/by-label";

// The device number behind a mount. File systems such as btrfs report an anonymous device
// (major 0) in the mount table; their source path still names the real one.
std::optional<dev_t> blockDeviceOf(const DeviceRef& device) {
  if (device.major != 0) return makedev(device.major, device.minor);
  struct stat st;
  if (::stat(device.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) return st.st_rdev;
  return std::nullopt;
}

std::string labelFromByLabel(dev_t wanted) {
  DIR* dir = ::opendir(kByLabel);
  if (!dir) return {};
  std::string label;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::stat((std::string(kByLabel) + "/" + name).c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
        st.st_rdev == wanted) {
      label = decodeUdevName(name);
      break;
    }
  }
  ::closedir(dir);
  return label;
}

// Reads the label from the file system's superblock; needs read access to the device, which
// an ordinary user rarely has, so it comes second.
std::string labelFromSuperblock(const std::string& source) {
  if (source.rfind("/dev/", 0) != 0 || ::access(source.c_str(), R_OK) != 0) return {};
  blkid_probe probe = blkid_new_probe_from_filename(source.c_str());
  if (!probe) return {};
  blkid_probe_enable_superblocks(probe, 1);
  blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL);
  std::string label;
  const char* value = nullptr;
  if (blkid_do_safeprobe(probe) == 0 &&
      blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0 && value) {
    label = value;
  }
  blkid_free_probe(probe);
  return label;
}

}  // namespace

std::string blockDeviceLabel(const DeviceRef& device) {
  const std::optional<dev_t> number = blockDeviceOf(device);
  if (!number) return {};
  if (std::string label = labelFromByLabel(*number); !label.empty()) return label;
  return labelFromSuperblock(device.source);
}

bool isOnRemovableDisk(const DeviceRef& device) {
  const std::optional<dev_t> number = blockDeviceOf(device);
  if (!number) return false;
  const std::string link =
      "/sys/dev/block/" + std::to_string(major(*number)) + ":" + std::to_string(minor(*number));
  char resolved[PATH_MAX];
  if (!::realpath(link.c_str(), resolved)) return false;
  std::string node = resolved;
  // A partition's sysfs folder sits inside its disk's.
  if (::access((node + "/partition").c_str(), F_OK) == 0) node.erase(node.rfind('/'));
  std::ifstream flag("/sys/block/" + node.substr(node.rfind('/') + 1) + "/removable");
  char value = '0';
  return flag >> value && value == '1';
}

}  // namespace nimbra
