#pragma once

// The walk that the large file scan and the duplicate finder share: hidden entries and
// package contents are never visited, symbolic links never followed, and directories named
// in NimbraNative::skippedDirNames() are pruned. The two scans differ only in where a folder
// named "Library" is pruned.

#include <functional>
#include <string>

#include "platform/fs/dir_walker.h"

namespace nimbra {

enum class LibraryPruning {
  // Only the home folder's own "Library", and only when the walk starts at the home folder
  // exactly (the large file scan).
  homeLevelOnly,
  // Every folder named "Library", like the other skipped names (the duplicate finder).
  everywhere,
};

// Yields the regular files below `root`. The cancellation check runs once per entry of the
// walk, before anything else is done with it; once it answers true the walk ends.
class FinderWalk {
 public:
  FinderWalk(const std::string& root, LibraryPruning pruning, std::function<bool()> cancelled);

  // Whether the root could be opened as a folder.
  bool ok() const { return walker_.ok(); }
  // The next regular file whose metadata could be read (entry->stat() is non-null), or
  // nullptr at the end of the walk or on cancellation.
  const WalkEntry* nextFile();
  bool wasCancelled() const { return cancelled_; }

 private:
  bool prunes(const WalkEntry& directory) const;

  DirWalker walker_;
  LibraryPruning pruning_;
  bool rootIsHome_;
  std::function<bool()> isCancelled_;
  bool cancelled_ = false;
};

}  // namespace nimbra
