#include "ops/finders/disk_walk.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace nimbra {

bool isOtherVolumeOrDevices(const WalkEntry& entry) {
  // Only these last components can match, so most entries never build their path.
  std::string_view name = entry.name();
  if (name != "Volumes" && name != "vm" && name != "dev") return false;
  static constexpr std::array<std::string_view, 4> kPrunedPaths = {"/System/Volumes", "/Volumes",
                                                                   "/private/var/vm", "/dev"};
  return std::find(kPrunedPaths.begin(), kPrunedPaths.end(), entry.path()) != kPrunedPaths.end();
}

DiskWalkEnd walkDisk(const std::string& root, std::span<DiskWalkSink* const> sinks,
                     const std::function<bool()>& cancelled, UnreadableFolders* unreadable) {
  for (DiskWalkSink* sink : sinks) sink->begin(root);
  DirWalker walker(root, {.onUnreadable = [&sinks](const UnreadableFolder& folder) {
                     for (DiskWalkSink* sink : sinks) sink->unreadable(folder);
                   }});
  DiskWalkEnd end = walker.ok() ? DiskWalkEnd::finished : DiskWalkEnd::notAFolder;
  while (const WalkEntry* entry = walker.next()) {
    if (cancelled()) {
      end = DiskWalkEnd::cancelled;
      break;
    }
    bool wanted = false;
    const auto owner = std::find_if(sinks.begin(), sinks.end(),
                                    [&](DiskWalkSink* sink) { return sink->owns(*entry); });
    if (owner != sinks.end()) {
      wanted = (*owner)->take(*entry);
    } else {
      for (DiskWalkSink* sink : sinks) wanted = sink->take(*entry) || wanted;
    }
    if (!wanted) walker.skipDescendants();  // no effect on anything but a folder
  }
  for (DiskWalkSink* sink : sinks) sink->end(end != DiskWalkEnd::cancelled);
  if (unreadable) unreadable->add(walker.unreadable());
  return end;
}

}  // namespace nimbra
