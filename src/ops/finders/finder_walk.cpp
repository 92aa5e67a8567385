#include "ops/finders/finder_walk.h"

#include <sys/stat.h>

#include <utility>

#include "service/nimbra_native.h"
#include "platform/machine/home.h"

namespace nimbra {
namespace {

constexpr const char* kLibrary = "Library";

}  // namespace

const std::set<std::string>& NimbraNative::skippedDirNames() {
  // Built once, on first use; C++ makes that first use safe from any number of threads.
  static const std::set<std::string> kNames = {
      ".git",   "node_modules", ".Trash",     "Library", ".cache",  ".npm",    ".gradle",
      ".pub-cache", ".cocoapods", ".cargo", ".rustup", ".vscode", ".android"};
  return kNames;
}

FinderWalk::FinderWalk(const std::string& root, LibraryPruning pruning,
                       std::function<bool()> cancelled)
    : walker_(root, WalkOptions{.skipHidden = true, .skipPackageContents = true}),
      pruning_(pruning),
      // Compared as written: "~", a trailing "/" or another spelling of the same folder is
      // not the home folder.
      rootIsHome_(root == homeDirectory()),
      isCancelled_(std::move(cancelled)) {}

bool FinderWalk::prunes(const WalkEntry& directory) const {
  std::string_view name = directory.name();
  if (rootIsHome_ && directory.depth() == 1 && name == kLibrary) return true;
  const auto& skipped = NimbraNative::skippedDirNames();
  if (skipped.find(std::string(name)) == skipped.end()) return false;
  return pruning_ == LibraryPruning::everywhere || name != kLibrary;
}

const WalkEntry* FinderWalk::nextFile() {
  while (!cancelled_) {
    const WalkEntry* entry = walker_.next();
    if (!entry) return nullptr;
    if (isCancelled_()) {
      cancelled_ = true;
      return nullptr;
    }
    switch (entry->type()) {
      case EntryType::directory:
        if (prunes(*entry)) walker_.skipDescendants();
        break;
      case EntryType::regular: {
        // A file replaced by something else since it was listed is left out.
        const struct stat* info = entry->stat();
        if (info && S_ISREG(info->st_mode)) return entry;
        break;
      }
      case EntryType::symlink:  // never followed: the walker does not enter links
      case EntryType::other:
        break;
    }
  }
  return nullptr;
}

}  // namespace nimbra
