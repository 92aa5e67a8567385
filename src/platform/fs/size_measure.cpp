#include "platform/fs/size_measure.h"

#include <sys/stat.h>

#include "base/path_parts.h"
#include "platform/fs/dir_walker.h"
#include "platform/fs/mount_table.h"

namespace nimbra {

int64_t measureSize(const std::string& path, const std::function<bool()>& cancelled,
                    UnreadableFolders* unreadable) {
  if (namesNoFile(path)) return 0;
  // "link/" would name the link's target; the link itself is what was asked about.
  const std::string location = withoutTrailingSlashes(path);
  struct stat info {};
  if (::lstat(location.c_str(), &info) != 0) return 0;
  if (S_ISREG(info.st_mode)) return isOnPseudoFileSystem(location) ? 0 : info.st_size;
  if (!S_ISDIR(info.st_mode)) return 0;  // a link, a device, a socket ...

  uint64_t total = 0;
  DirWalker walker(location);
  while (const WalkEntry* entry = walker.next()) {
    if (cancelled()) break;
    if (entry->isRegular()) total += static_cast<uint64_t>(entry->size());
  }
  if (unreadable) unreadable->add(walker.unreadable());
  return static_cast<int64_t>(total);
}

}  // namespace nimbra
