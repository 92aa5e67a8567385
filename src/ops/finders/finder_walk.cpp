#include "ops/finders/finder_walk.h"

#include <sys/stat.h>

#include <utility>

namespace nimbra {
namespace {

constexpr const char* kLibrary = "Library";

}  // namespace

const std::set<std::string, std::less<>>& skippedFolderNames() {
  // Built once, on first use; C++ makes that first use safe from any number of threads.
  static const std::set<std::string, std::less<>> kNames = {
      ".git",       "node_modules", ".Trash", "Library", ".cache",  ".npm",    ".gradle",
      ".pub-cache", ".cocoapods",   ".cargo", ".rustup", ".vscode", ".android"};
  return kNames;
}

namespace {

// The folders the walk does not enter, by name and depth alone: the walker asks it, from its
// readers ahead too, so it holds copies of everything it reads.
std::function<bool(std::string_view, int)> pruningRule(const std::string& root,
                                                       const FinderPruning& pruning) {
  const bool rootIsHome = pruning.library == LibraryPruning::homeLevelOnly && root == pruning.home;
  const bool everyLibrary = pruning.library == LibraryPruning::everywhere;
  return [rootIsHome, everyLibrary, &names = pruning.names](std::string_view name, int depth) {
    if (rootIsHome && depth == 1 && name == kLibrary) return true;
    if (!names.contains(name)) return false;
    return everyLibrary || name != kLibrary;
  };
}

}  // namespace

FinderWalk::FinderWalk(const std::string& root, FinderPruning pruning,
                       std::function<bool()> cancelled)
    : walker_(root, WalkOptions{.skipHidden = true,
                                .skipPackageContents = true,
                                .prunes = pruningRule(root, pruning)}),
      isCancelled_(std::move(cancelled)) {}

const WalkEntry* FinderWalk::nextFile() {
  while (!cancelled_) {
    const WalkEntry* entry = walker_.next();
    if (!entry) return nullptr;
    if (isCancelled_()) {
      cancelled_ = true;
      return nullptr;
    }
    switch (entry->type()) {
      case EntryType::regular: {
        // A file replaced by something else since it was listed is left out.
        const struct stat* info = entry->stat();
        if (info && S_ISREG(info->st_mode)) return entry;
        break;
      }
      case EntryType::directory:  // entered unless the pruning rule says otherwise
      case EntryType::symlink:    // never followed: the walker does not enter links
      case EntryType::other: break;
    }
  }
  return nullptr;
}

}  // namespace nimbra
