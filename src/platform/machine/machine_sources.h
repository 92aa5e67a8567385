#pragma once

// Where the system facts come from: the machine's own files under /etc, /proc and /sys, the
// volumes' capacities and labels, and the kernel's names. The seam for tests, which feed fixed
// texts and answers here instead of reading the machine they run on.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/machine/block_device.h"

namespace nimbra {

// What a mounted volume's mount point reports.
struct VolumeStat {
  bool isDirectory = false;
  int64_t total = 0;  // f_blocks x f_frsize
  int64_t free = 0;   // f_bavail x f_frsize: what an unprivileged user may still write
  friend bool operator==(const VolumeStat&, const VolumeStat&) = default;
};

class MachineSources {
 public:
  virtual ~MachineSources() = default;
  // The whole text of one of the machine's files ("/proc/meminfo", "/etc/machine-id" ...);
  // nullopt when it cannot be read.
  virtual std::optional<std::string> readFile(const std::string& path) = 0;
  // stat and statvfs of a mount point; nullopt when either fails.
  virtual std::optional<VolumeStat> volumeStat(const std::string& mountPoint) = 0;
  // The file system label of the device, "" when it has none or it cannot be read.
  virtual std::string volumeLabel(const DeviceRef& device) = 0;
  // The removable flag of the disk holding the device; false when unknown.
  virtual bool isRemovable(const DeviceRef& device) = 0;
  // gethostname(); "" when unavailable.
  virtual std::string hostName() = 0;
  // uname().release.
  virtual std::string kernelRelease() = 0;
};

// The real sources of this machine.
class LocalMachineSources final : public MachineSources {
 public:
  std::optional<std::string> readFile(const std::string& path) override;
  std::optional<VolumeStat> volumeStat(const std::string& mountPoint) override;
  std::string volumeLabel(const DeviceRef& device) override { return blockDeviceLabel(device); }
  bool isRemovable(const DeviceRef& device) override { return isOnRemovableDisk(device); }
  std::string hostName() override;
  std::string kernelRelease() override;
};

}  // namespace nimbra
