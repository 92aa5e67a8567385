#include "ops/machine/volumes.h"

#include <algorithm>
#include <set>

#include "base/path_parts.h"
#include "base/utf8.h"
#include "platform/fs/mount_table.h"

namespace nimbra {
namespace {

std::string volumeName(MachineSources& sources, const MountEntry& mount) {
  std::string label = sources.volumeLabel(mount.device);
  if (!label.empty()) return label;
  const PathParts parts = splitLastComponent(mount.mountPoint);
  return parts.name.empty() ? withoutTrailingSlashes(mount.mountPoint) : parts.name;
}

bool isSystemDisk(const Value& disk) {
  return disk.getIf<ValueMap>()->at("isSystem") == Value(true);
}

}  // namespace

ValueList mountedVolumes(MachineSources& sources) {
  ValueList disks;
  std::set<std::string> namesTaken;
  for (const MountEntry& mount :
       parseMountInfo(sources.readFile("/proc/self/mountinfo").value_or(""))) {
    // A mount point that is not valid UTF-8 cannot travel to the interface, and with its bad
    // bytes replaced it would name no folder at all.
    if (!holdsStoredData(mount) || !isValidUtf8(mount.mountPoint)) continue;
    const std::optional<VolumeStat> stat = sources.volumeStat(mount.mountPoint);
    if (!stat || !stat->isDirectory || stat->total == 0) continue;
    std::string name = volumeName(sources, mount);
    if (!namesTaken.insert(name).second) continue;
    disks.push_back(ValueMap{{"name", std::move(name)},
                             {"path", mount.mountPoint},
                             {"total", stat->total},
                             {"free", stat->free},
                             {"used", stat->total - stat->free},
                             {"isSystem", mount.mountPoint == "/"},
                             {"isRemovable", sources.isRemovable(mount.device)}});
  }
  std::stable_sort(disks.begin(), disks.end(), [](const Value& a, const Value& b) {
    return isSystemDisk(a) && !isSystemDisk(b);
  });
  return disks;
}

}  // namespace nimbra
