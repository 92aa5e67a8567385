#include "ops/finders/finder_walk.h"

#include <sys/stat.h>

#include <utility>

namespace nimbra {
namespace {

constexpr const char* kLibrary = "Library";

}  // namespace

const std::set<std::string>& skippedFolderNames() {
  // Built once, on first use; C++ makes that first use safe from any number of threads.
  static const std::set<std::string> kNames = {
      ".git",       "node_modules", ".Trash", "Library", ".cache",  ".npm",    ".gradle",
      ".pub-cache", ".cocoapods",   ".cargo", ".rustup", ".vscode", ".android"};
  return kNames;
}

FinderWalk::FinderWalk(const std::string& root, FinderPruning pruning,
                       std::function<bool()> cancelled)
    : walker_(root, WalkOptions{.skipHidden = true, .skipPackageContents = true}),
      pruning_(std::move(pruning)),
      rootIsHome_(pruning_.library == LibraryPruning::homeLevelOnly && root == pruning_.home),
      isCancelled_(std::move(cancelled)) {}

bool FinderWalk::prunes(const WalkEntry& directory) const {
  std::string_view name = directory.name();
  if (rootIsHome_ && directory.depth() == 1 && name == kLibrary) return true;
  if (!pruning_.names.contains(std::string(name))) return false;
  return pruning_.library == LibraryPruning::everywhere || name != kLibrary;
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
      case EntryType::other: break;
    }
  }
  return nullptr;
}

}  // namespace nimbra
