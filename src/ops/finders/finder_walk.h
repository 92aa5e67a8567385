#pragma once

// The walk that the large file scan and the duplicate finder share. Its rules, in the order
// they apply to each entry below the root:
//  1. hidden entries (a name starting with ".") are never visited, nor anything inside them;
//  2. package contents (isPackageName: .app, .bundle ...) are never visited; the package is a
//     folder like any other;
//  3. a folder the pruning rule names is not entered (FinderPruning);
//  4. kernel pseudo file systems (procfs, sysfs ...) are never entered;
//  5. symbolic links are never followed and yield nothing;
//  6. other mounts are entered like any folder;
//  7. a regular file that is still one when its metadata is read is yielded; a device, a FIFO,
//     a socket, or a file replaced by something else since the listing is not.
// Cancellation is polled once per entry, before anything else is done with it.

#include <functional>
#include <set>
#include <string>

#include "platform/fs/dir_walker.h"

namespace nimbra {

// Version control, package caches, editor and tool folders, the Trash, and "Library" (which
// LibraryPruning places).
const std::set<std::string, std::less<>>& skippedFolderNames();

enum class LibraryPruning {
  // Only the home folder's own "Library", and only when the walk starts at the home folder
  // exactly, as written: "~", a trailing "/" or another spelling of it is another folder (the
  // large file scan).
  homeLevelOnly,
  // Every folder named "Library", like the other skipped names (the duplicate finder).
  everywhere,
};

// The folders a finder's walk does not enter, by name.
struct FinderPruning {
  LibraryPruning library = LibraryPruning::everywhere;
  std::string home{};  // the user's home folder, for LibraryPruning::homeLevelOnly
  const std::set<std::string, std::less<>>& names = skippedFolderNames();
};

// Yields the regular files below `root` by the rules above; once `cancelled` answers true the
// walk ends.
class FinderWalk {
 public:
  FinderWalk(const std::string& root, FinderPruning pruning, std::function<bool()> cancelled);

  // Whether the root could be opened as a folder.
  bool ok() const { return walker_.ok(); }
  // The next regular file whose metadata could be read (entry->stat() is non-null), or
  // nullptr at the end of the walk or on cancellation.
  const WalkEntry* nextFile();
  bool wasCancelled() const { return cancelled_; }
  // The folders the walk could not read so far.
  const UnreadableFolders& unreadable() const { return walker_.unreadable(); }

 private:
  DirWalker walker_;
  std::function<bool()> isCancelled_;
  bool cancelled_ = false;
};

}  // namespace nimbra
