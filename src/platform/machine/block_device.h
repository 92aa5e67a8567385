#pragma once

// The block devices behind mounted volumes: their labels and whether their disk is removable.

#include <string>

namespace nimbra {

// A block device as /proc/self/mountinfo names it.
struct DeviceRef {
  unsigned major = 0;
  unsigned minor = 0;
  std::string source;  // the mount source, "/dev/sda1" for a disk partition
  friend bool operator==(const DeviceRef&, const DeviceRef&) = default;
};

// The file system label of the device: udev's name for it in /dev/disk/by-label, else the one
// in its superblock when the device can be read; "" when it has none or it cannot be read.
std::string blockDeviceLabel(const DeviceRef& device);

// The removable flag of the disk holding the device; false when unknown.
bool isOnRemovableDisk(const DeviceRef& device);

}  // namespace nimbra
