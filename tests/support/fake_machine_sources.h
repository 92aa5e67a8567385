#pragma once

#include <map>
#include <set>

#include "platform/machine/machine_sources.h"

namespace nimbra::test {

// A machine described by fixed texts and answers: files by path, volumes by mount point (else
// `otherVolumes`), labels and removable flags by device source. Anything else is missing.
struct FakeMachineSources final : MachineSources {
  std::optional<std::string> readFile(const std::string& path) override {
    return files.contains(path) ? std::optional(files.at(path)) : std::nullopt;
  }
  std::optional<VolumeStat> volumeStat(const std::string& mountPoint) override {
    return volumes.contains(mountPoint) ? std::optional(volumes.at(mountPoint)) : otherVolumes;
  }
  std::string volumeLabel(const DeviceRef& device) override { return labels[device.source]; }
  bool isRemovable(const DeviceRef& device) override { return removable.contains(device.source); }
  std::string hostName() override { return host; }
  std::string kernelRelease() override { return release; }

  std::map<std::string, std::string> files;
  std::map<std::string, VolumeStat> volumes;
  std::optional<VolumeStat> otherVolumes;
  std::map<std::string, std::string> labels;
  std::set<std::string> removable;
  std::string host;
  std::string release;
};

}  // namespace nimbra::test
