#include <sys/stat.h>

#include <cstdint>
#include <set>
#include <string>

#include "channel/nimbra_native.h"
#include "platform/dir_walker.h"

namespace nimbra {

// Every byte count of the service comes from here: logical lengths of regular files, hidden
// entries and package contents included, links never followed (not even at `path` itself)
// and never counted, a hard-linked file counted once for every path that reaches it.
// Cancellation is polled before every entry; a cancelled walk answers its partial total.
int64_t NimbraNative::sizeOf(const std::string& path) {
  // "link/" would name the link's target; the link itself is what was asked about.
  std::string location = path;
  while (location.size() > 1 && location.back() == '/') location.pop_back();
  struct stat info {};
  if (::lstat(location.c_str(), &info) != 0) return 0;
  if (S_ISREG(info.st_mode)) return isOnPseudoFileSystem(location) ? 0 : info.st_size;
  if (!S_ISDIR(info.st_mode)) return 0;  // a link, a device, a socket ...

  // Wraps instead of overflowing: the sum is not clamped, and no real tree reaches 2^63.
  uint64_t total = 0;
  DirWalker walker(location);
  while (const WalkEntry* entry = walker.next()) {
    if (isCancelled()) break;
    if (entry->isRegular()) total += static_cast<uint64_t>(entry->size());
  }
  return static_cast<int64_t>(total);
}

const std::set<std::string>& NimbraNative::skippedDirNames() {
  // Built once, on first use; C++ makes that first use safe from any number of threads.
  static const std::set<std::string> kNames = {
      ".git",   "node_modules", ".Trash",     "Library", ".cache",  ".npm",    ".gradle",
      ".pub-cache", ".cocoapods", ".cargo", ".rustup", ".vscode", ".android"};
  return kNames;
}

}  // namespace nimbra
