#pragma once

#include <map>
#include <set>

#include "platform/system_sources.h"

namespace nimbra::test {

// A machine described by fixed texts and answers: files by path, volumes by mount point,
// labels and removable flags by device source. Anything not described is missing.
class FakeSystemSources final : public SystemSources {
 public:
  std::optional<std::string> readFile(const std::string& path) override { return lookup(files, path); }
  std::optional<VolumeStat> volumeStat(const std::string& mountPoint) override { return lookup(volumes, mountPoint); }
  std::string volumeLabel(const DeviceRef& device) override { return lookup(labels, device.source).value_or(""); }
  bool isRemovable(const DeviceRef& device) override { return removable.contains(device.source); }
  std::string hostName() override { return host; }
  std::string kernelRelease() override { return release; }

  std::map<std::string, std::string> files;
  std::map<std::string, VolumeStat> volumes;
  std::map<std::string, std::string> labels;
  std::set<std::string> removable;
  std::string host;
  std::string release;

 private:
  template <class T>
  static std::optional<T> lookup(const std::map<std::string, T>& table, const std::string& key) {
    auto it = table.find(key);
    return it == table.end() ? std::nullopt : std::optional<T>(it->second);
  }
};

}  // namespace nimbra::test
