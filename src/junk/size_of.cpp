#include <cstdint>
#include <set>
#include <string>

#include "channel/nimbra_native.h"
#include "platform/size_measure.h"

namespace nimbra {

// Every byte count of the service comes from here; cancellation is polled before every entry.
int64_t NimbraNative::sizeOf(const std::string& path) {
  return measureSize(path, [this] { return isCancelled(); });
}

const std::set<std::string>& NimbraNative::skippedDirNames() {
  // Built once, on first use; C++ makes that first use safe from any number of threads.
  static const std::set<std::string> kNames = {
      ".git",   "node_modules", ".Trash",     "Library", ".cache",  ".npm",    ".gradle",
      ".pub-cache", ".cocoapods", ".cargo", ".rustup", ".vscode", ".android"};
  return kNames;
}

}  // namespace nimbra
