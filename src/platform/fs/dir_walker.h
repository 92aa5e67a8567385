#pragma once

// The one directory walker: every walk of the service (size measurement, the file finders,
// folder emptying) goes through it, so its per-entry cost is paid by every scan.
//
// Pre-order, in the file system's listing order; a directory is returned before its
// contents, and skipDescendants() right after it prunes them. Directories are read relative
// to their parent's descriptor; the kernel is asked for metadata only when the listing's
// entry type does not answer the question. Symbolic links are never followed. Kernel pseudo
// file systems (procfs, sysfs, ...) are never entered. Unreadable directories and entries
// that vanish never stop the walk. Open descriptors stay bounded on arbitrarily deep trees.
//
// Not thread-safe; one walker per thread. Blocking: every call may do file-system I/O.
//
//   DirWalker walker(root, {.skipHidden = true});
//   while (const WalkEntry* entry = walker.next()) {
//     if (entry->isDirectory() && entry->name() == "node_modules") walker.skipDescendants();
//     else if (entry->isRegular()) total += entry->size();
//   }

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nimbra {

// A directory a walk could not read, and why.
struct UnreadableFolder {
  std::string path;
  int error = 0;  // the errno of the failed call
};

// The directories one or more walks could not read: how many, and the first few. What lies in
// them is missing from every figure of those walks; the answers say so.
struct UnreadableFolders {
  static constexpr size_t kListed = 10;
  int64_t count = 0;
  std::vector<UnreadableFolder> first;  // at most kListed, in walk order

  void add(UnreadableFolder folder) {
    ++count;
    if (first.size() < kListed) first.push_back(std::move(folder));
  }
  void add(const UnreadableFolders& other) {
    count += other.count;
    for (const UnreadableFolder& folder : other.first) {
      if (first.size() == kListed) break;
      first.push_back(folder);
    }
  }
};

struct WalkOptions {
  bool skipHidden = false;           // leave out entries whose name starts with "."
  bool skipPackageContents = false;  // return packages (see isPackageName) but not their contents
  // Directories returned but never entered, by name and depth alone (1: a child of the root).
  // Asked from the walk's readers ahead too, on their own threads: it must be safe to call from
  // any thread, and give the same answer each time.
  std::function<bool(std::string_view name, int depth)> prunes{};
  // Threads the walk may use (its own and its readers ahead); 0: walkThreads(). A walk on one
  // thread reads each directory only as it enters it; more read ahead (read_ahead.h), which is
  // sooner and gives the same answer but for what changes during the walk.
  size_t threads = 0;
  // Told of each directory that could not be read, when the walk finds out: a directory the
  // walk was to enter is told of before the entry that next() returns next.
  std::function<void(const UnreadableFolder&)> onUnreadable{};
};

enum class EntryType { regular, directory, symlink, other };

// One entry of the walk. Valid until the next call of next(); metadata beyond the type is
// fetched on first request (one fstatat relative to the parent's descriptor) and cached.
class WalkEntry {
 public:
  // The root, "/" and the entry's path below the root joined as plain strings; no "/" is
  // added after a root that already ends with one ("/" gives "/usr", not "//usr").
  // Cost: builds a string on first call per entry; no system call.
  const std::string& path() const;
  // Free: points into the listing.
  std::string_view name() const;
  // 1 for a direct child of the root. Free.
  int depth() const;
  // Free when the listing tells the type (ext4, tmpfs, xfs, btrfs ... do); otherwise one
  // fstatat, cached with the rest of the metadata.
  EntryType type() const;
  bool isRegular() const { return type() == EntryType::regular; }
  bool isDirectory() const { return type() == EntryType::directory; }
  bool isSymlink() const { return type() == EntryType::symlink; }
  // Logical size (st_size) of a regular file; 0 for anything else or when it cannot be read.
  // Cost, like modified() and stat(): one fstatat on first call per entry (relative to the
  // open parent, plus reopening that parent if the walk had to close it), then cached.
  int64_t size() const;
  // Modification time in whole seconds since 1970, truncated toward zero; 0 when unknown.
  int64_t modified() const;
  // The full lstat result, or nullptr when it cannot be read (the entry vanished).
  const struct stat* stat() const;
  // The descriptor of the directory that holds the entry, for *at() calls relative to it
  // (they never resolve the entry's path through links). Owned by the walker and valid until
  // the next call of next(); -1 when that directory can no longer be reached.
  int directoryFd() const;

 private:
  friend class DirWalker;
  struct Impl;
  explicit WalkEntry(Impl* impl) : impl_(impl) {}
  Impl* impl_;
};

class DirWalker {
 public:
  // Opens `root` (never following a link at the root itself). The root is not returned.
  DirWalker(std::string root, WalkOptions options = {});
  ~DirWalker();
  DirWalker(const DirWalker&) = delete;
  DirWalker& operator=(const DirWalker&) = delete;

  // Whether the root could be opened as a directory.
  bool ok() const;
  // The next entry, or nullptr when the walk is over.
  const WalkEntry* next();
  // Do not enter the directory that next() returned last. No effect for other entries.
  void skipDescendants();

  // Directories the walk could not read so far (the root among them): not opened, not listed to
  // the end, or whose entries could not be looked at, for want of the search right. Each counts
  // once; one that vanished or was replaced meanwhile does not count.
  const UnreadableFolders& unreadable() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace nimbra
