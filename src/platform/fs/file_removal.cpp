#include "platform/fs/file_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "base/descriptor.h"
#include "base/errno_text.h"
#include "base/path_parts.h"
#include "platform/fs/folder_listing.h"
#include "platform/fs/mount_table.h"

namespace nimbra {
namespace {

constexpr int kDirectoryOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// A tree deeper than this closes the descriptors of its outer folders and reopens each one
// through ".." (checking its identity) on the way back up, so deep trees never run out of
// descriptors.
constexpr size_t kMaxOpenDirectories = 64;

constexpr const char* kMountedHere = "another file system is mounted here";

// Who a directory is: its identity for reopening it safely, and the mount it belongs to.
// Removal never leaves the mount of the item's parent folder: a folder mounted (or
// bind-mounted, which keeps the device number) inside the item belongs to someone else.
struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  uint64_t mountId = 0;
  bool mountIdKnown = false;

  bool sameMount(const Identity& other) const {
    if (device != other.device) return false;
    return !mountIdKnown || !other.mountIdKnown || mountId == other.mountId;
  }
};

// One statx, the same cost as the fstat it replaces.
bool readIdentity(int fd, Identity& identity) {
  struct statx info {};
  if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_MNT_ID, &info) != 0)
    return false;
  identity.device = makedev(info.stx_dev_major, info.stx_dev_minor);
  identity.inode = info.stx_ino;
  identity.mountIdKnown = (info.stx_mask & STATX_MNT_ID) != 0;
  identity.mountId = info.stx_mnt_id;
  return true;
}

// One folder on the way down. Only its name is kept, never its whole path: a chain of
// 30,000 folders would otherwise hold 30,000 copies of an ever longer path. Its descriptor
// is closed (not ok) while it is too far up, to bound open descriptors.
struct OpenFolder {
  Descriptor fd;
  Identity identity;
  std::string name;  // in its parent
  std::vector<FolderEntry> entries;
  size_t next = 0;
};

struct Sweep {
  std::string rootPath;
  Identity home;  // the mount the sweep stays on
  bool stopAtFirstFailure = true;
  const std::function<bool()>* cancelled = nullptr;
  std::optional<std::string> firstFailure;
  std::vector<OpenFolder> stack;

  // The path of stack[depth] (0 is the root), built only for an error text.
  std::string pathOf(size_t depth, std::string_view child = {}) const {
    std::string path = rootPath;
    for (size_t i = 1; i <= depth; ++i) path.append("/").append(stack[i].name);
    if (!child.empty()) path.append("/").append(child);
    return path;
  }

  // Records a failure; answers whether the sweep goes on.
  bool fail(std::string text) {
    if (!firstFailure) firstFailure = std::move(text);
    return !stopAtFirstFailure;
  }
  bool failEntry(std::string_view name, int code) {
    return fail(pathErrorText(pathOf(stack.size() - 1, name), code));
  }
};

// Reopens `parent` through the ".." of the folder just finished, and accepts it only if it is
// still the very folder that was left (the child could have been moved meanwhile).
bool reopenParent(int childFd, OpenFolder& parent) {
  Descriptor fd(::openat(childFd, "..", kDirectoryOpenFlags));
  Identity found;
  if (!fd.ok() || !readIdentity(fd.get(), found)) return false;
  if (found.device != parent.identity.device || found.inode != parent.identity.inode) {
    errno = ESTALE;
    return false;
  }
  parent.fd = std::move(fd);
  return true;
}

// Removes what lies inside the open folder `rootFd` (which stays open and in place), depth
// first, never leaving the sweep's mount. Answers false when the sweep stopped early: a
// failure in stop-at-first mode, a cancellation, or a folder that could not be found again.
bool clearDirectory(int rootFd, Sweep& sweep) {
  auto& stack = sweep.stack;
  stack.clear();
  stack.emplace_back();
  if (auto listing = listFolder(rootFd)) {
    stack[0].entries = std::move(*listing);
  } else {
    sweep.fail(pathErrorText(sweep.rootPath, errno));
    return false;
  }
  auto fdOf = [&](size_t depth) { return depth == 0 ? rootFd : stack[depth].fd.get(); };

  while (true) {
    if (stack.back().next == stack.back().entries.size()) {
      if (stack.size() == 1) return true;
      OpenFolder done = std::move(stack.back());
      stack.pop_back();
      OpenFolder& parent = stack.back();
      if (stack.size() > 1 && !parent.fd.ok() && !reopenParent(done.fd.get(), parent)) {
        sweep.fail(pathErrorText(sweep.pathOf(stack.size() - 1), errno));
        return false;
      }
      done.fd.reset();
      if (::unlinkat(fdOf(stack.size() - 1), done.name.c_str(), AT_REMOVEDIR) != 0 &&
          !sweep.failEntry(done.name, errno)) {
        return false;
      }
      continue;
    }

    if (sweep.cancelled && (*sweep.cancelled)()) return false;
    const size_t depth = stack.size() - 1;
    const int parentFd = fdOf(depth);
    const FolderEntry& entry = stack[depth].entries[stack[depth].next++];
    const char* name = entry.name.c_str();

    if (entry.type != DT_DIR) {
      if (::unlinkat(parentFd, name, 0) == 0) continue;
      // EISDIR: the listing did not give the type (or the entry became a folder since).
      if (errno != EISDIR) {
        if (!sweep.failEntry(entry.name, errno)) return false;
        continue;
      }
    }

    Descriptor fd(::openat(parentFd, name, kDirectoryOpenFlags));
    if (!fd.ok()) {
      int code = errno;
      if (code == ENOTDIR || code == ELOOP) {
        // No longer a folder (replaced by a file or a link): remove that entry itself.
        if (::unlinkat(parentFd, name, 0) == 0) continue;
        code = errno;
      } else if (::unlinkat(parentFd, name, AT_REMOVEDIR) == 0) {
        continue;  // an empty folder we may not read
      }
      if (!sweep.failEntry(entry.name, code)) return false;
      continue;
    }

    OpenFolder child;
    if (!readIdentity(fd.get(), child.identity)) {
      if (!sweep.failEntry(entry.name, errno)) return false;
      continue;
    }
    if (!child.identity.sameMount(sweep.home)) {
      if (!sweep.fail(mountedHereText(sweep.pathOf(depth, entry.name)))) return false;
      continue;
    }
    if (auto listing = listFolder(fd.get())) {
      child.entries = std::move(*listing);
    } else {
      if (!sweep.failEntry(entry.name, errno)) return false;
      continue;
    }
    child.fd = std::move(fd);
    child.name = entry.name;
    stack.push_back(std::move(child));
    if (stack.size() > kMaxOpenDirectories + 1)
      stack[stack.size() - 1 - kMaxOpenDirectories].fd.reset();
  }
}

// The errno that refuses `parts` as an item to remove or empty, or 0.
int refusalOf(const std::string& path, const PathParts& parts) {
  if (namesNoFile(path)) return ENOENT;
  if (parts.name.empty()) return parts.parent == "/" ? EBUSY : ENOENT;
  if (parts.name == "." || parts.name == "..") return EINVAL;
  return 0;
}

// The errno that refuses `name` as one entry of an open folder, or 0: it must be a single
// component, so that nothing but the entry itself is ever resolved.
int entryRefusalOf(const std::string& name) {
  if (name.empty() || namesNoFile(name)) return ENOENT;
  if (name == "." || name == ".." || name.find('/') != std::string::npos) return EINVAL;
  return 0;
}

Removal failedWith(std::string text) { return {std::move(text)}; }

}  // namespace

Removal removeItem(const std::string& path) {
  const PathParts parts = splitLastComponent(path);
  if (const int refusal = refusalOf(path, parts)) return failedWith(pathErrorText(path, refusal));
  Descriptor parent(::open(parts.parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.ok()) return failedWith(pathErrorText(path, errno));
  return removeEntry(parent.get(), parts.name, path);
}

Removal removeEntry(int parentFd, const std::string& entryName, const std::string& path) {
  if (const int refusal = entryRefusalOf(entryName))
    return failedWith(pathErrorText(path, refusal));
  const char* name = entryName.c_str();
  struct stat st;
  if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return failedWith(pathErrorText(path, errno));
  }
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(parentFd, name, 0) != 0) return failedWith(pathErrorText(path, errno));
    return {};
  }

  Descriptor directory(::openat(parentFd, name, kDirectoryOpenFlags));
  if (!directory.ok()) {
    const int openError = errno;
    // An empty folder we may not read can still go.
    if (::unlinkat(parentFd, name, AT_REMOVEDIR) == 0) return {};
    return failedWith(pathErrorText(path, openError));
  }
  Sweep sweep;
  sweep.rootPath = withoutTrailingSlashes(path);
  Identity item;
  if (!readIdentity(parentFd, sweep.home) || !readIdentity(directory.get(), item)) {
    return failedWith(pathErrorText(path, errno));
  }
  if (!item.sameMount(sweep.home)) return failedWith(mountedHereText(sweep.rootPath));
  if (!clearDirectory(directory.get(), sweep)) return {sweep.firstFailure};
  if (::unlinkat(parentFd, name, AT_REMOVEDIR) != 0) return failedWith(pathErrorText(path, errno));
  return {};
}

void emptyDirectory(const std::string& path, const std::function<bool()>& cancelled) {
  const PathParts parts = splitLastComponent(path);
  if (refusalOf(path, parts)) return;
  Descriptor parent(::open(parts.parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.ok()) return;
  emptyEntry(parent.get(), parts.name, path, cancelled);
}

void emptyEntry(int parentFd, const std::string& name, const std::string& path,
                const std::function<bool()>& cancelled) {
  if (entryRefusalOf(name)) return;
  Descriptor directory(::openat(parentFd, name.c_str(), kDirectoryOpenFlags));
  if (!directory.ok()) return;
  Sweep sweep;
  Identity item;
  if (!readIdentity(parentFd, sweep.home) || !readIdentity(directory.get(), item) ||
      !item.sameMount(sweep.home)) {
    return;
  }
  sweep.rootPath = withoutTrailingSlashes(path);
  sweep.stopAtFirstFailure = false;
  sweep.cancelled = &cancelled;
  clearDirectory(directory.get(), sweep);
}

std::optional<std::string> removalRefusal(const std::string& path) {
  if (const int refusal = refusalOf(path, splitLastComponent(path)))
    return pathErrorText(path, refusal);
  return std::nullopt;
}

std::string mountedHereText(const std::string& path) { return path + ": " + kMountedHere; }

std::optional<std::string> mountPointWithin(const std::string& path) {
  const PathParts parts = splitLastComponent(path);
  if (refusalOf(path, parts)) return std::nullopt;
  // The item as the kernel names it: its parent resolved (O_PATH needs no read right on it),
  // the item itself taken as written, never followed.
  std::string item;
  Descriptor parent(::open(parts.parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (parent.ok()) item = canonicalPathOf(parent.get());
  if (item.empty()) {
    // Nothing to resolve against: compare the text itself, which the kernel resolves alike
    // when no link lies on the way.
    item = withoutTrailingSlashes(path);
  } else {
    item = (item == "/" ? "" : item) + "/" + parts.name;
  }
  for (const MountEntry& mount : readMountTable()) {
    if (mount.mountPoint == item || isStrictlyBelow(mount.mountPoint, item))
      return mount.mountPoint;
  }
  return std::nullopt;
}

}  // namespace nimbra
