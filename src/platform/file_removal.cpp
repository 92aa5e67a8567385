#include "platform/file_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/descriptor.h"
#include "platform/path_parts.h"
#include "platform/system_error_text.h"

namespace nimbra {
namespace {

constexpr int kDirectoryOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// A tree deeper than this closes the descriptors of its outer folders and reopens each one
// through ".." (checking its identity) on the way back up, so deep trees never run out of
// descriptors.
constexpr size_t kMaxOpenDirectories = 64;
constexpr size_t kListingBuffer = 32 * 1024;

struct Entry {
  std::string name;
  unsigned char type;  // d_type: DT_DIR, DT_REG, DT_LNK ..., or DT_UNKNOWN
};

// The whole listing is read before anything is removed: removing entries while the same
// directory is being read can make some file systems skip entries.
bool readListing(int fd, std::vector<Entry>& entries) {
  alignas(dirent64) char buffer[kListingBuffer];
  for (;;) {
    const ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    for (ssize_t offset = 0; offset < n;) {
      const auto* d = reinterpret_cast<const dirent64*>(buffer + offset);
      offset += d->d_reclen;
      const std::string_view name = d->d_name;
      if (name == "." || name == "..") continue;
      entries.push_back({std::string(name), d->d_type});
    }
  }
}

// One folder on the way down. Its descriptor is -1 while closed to bound open descriptors;
// its identity lets it be reopened safely.
struct Frame {
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
  std::string path;
  std::string nameInParent;
  std::vector<Entry> entries;
  size_t next = 0;
};

struct Sweep {
  bool stopAtFirstFailure = true;
  const std::function<bool()>* cancelled = nullptr;
  std::optional<std::string> firstFailure;

  // Records a failure; answers whether the sweep goes on.
  bool fail(const std::string& path, int code) {
    if (!firstFailure) firstFailure = pathErrorText(path, code);
    return !stopAtFirstFailure;
  }
};

// Reopens `parent` through the ".." of the folder just finished, and accepts it only if it is
// still the very folder that was left (the child could have been moved meanwhile).
bool reopenParent(int childFd, Frame& parent) {
  const int fd = ::openat(childFd, "..", kDirectoryOpenFlags);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_dev != parent.device || st.st_ino != parent.inode) {
    ::close(fd);
    errno = ESTALE;
    return false;
  }
  parent.fd = fd;
  return true;
}

// Removes what lies inside the open folder `rootFd` (which stays open and in place), depth
// first. Answers false when the sweep stopped early: a failure in stop-at-first mode, a
// cancellation, or a folder that could not be found again.
bool clearDirectory(int rootFd, const std::string& rootPath, Sweep& sweep) {
  std::vector<Frame> stack(1);
  stack[0].fd = rootFd;
  stack[0].path = rootPath;
  if (!readListing(rootFd, stack[0].entries)) {
    sweep.fail(rootPath, errno);
    return false;
  }
  auto closeInner = [&] {
    for (size_t i = 1; i < stack.size(); ++i) {
      if (stack[i].fd >= 0) ::close(stack[i].fd);
    }
  };

  while (true) {
    if (stack.back().next == stack.back().entries.size()) {
      if (stack.size() == 1) return true;
      Frame done = std::move(stack.back());
      stack.pop_back();
      Frame& parent = stack.back();
      if (parent.fd < 0 && !reopenParent(done.fd, parent)) {
        sweep.fail(parent.path, errno);
        ::close(done.fd);
        closeInner();
        return false;
      }
      ::close(done.fd);
      if (::unlinkat(parent.fd, done.nameInParent.c_str(), AT_REMOVEDIR) != 0 &&
          !sweep.fail(done.path, errno)) {
        closeInner();
        return false;
      }
      continue;
    }

    if (sweep.cancelled && (*sweep.cancelled)()) {
      closeInner();
      return false;
    }
    Frame& top = stack.back();
    const Entry& entry = top.entries[top.next++];
    const char* name = entry.name.c_str();

    if (entry.type != DT_DIR) {
      if (::unlinkat(top.fd, name, 0) == 0) continue;
      // EISDIR: the listing did not give the type (or the entry became a folder since).
      if (errno != EISDIR) {
        if (!sweep.fail(top.path + "/" + entry.name, errno)) {
          closeInner();
          return false;
        }
        continue;
      }
    }

    const int fd = ::openat(top.fd, name, kDirectoryOpenFlags);
    if (fd < 0) {
      int code = errno;
      if (code == ENOTDIR || code == ELOOP) {
        // No longer a folder (replaced by a file or a link): remove that entry itself.
        if (::unlinkat(top.fd, name, 0) == 0) continue;
        code = errno;
      } else if (::unlinkat(top.fd, name, AT_REMOVEDIR) == 0) {
        continue;  // an empty folder we may not read
      }
      if (!sweep.fail(top.path + "/" + entry.name, code)) {
        closeInner();
        return false;
      }
      continue;
    }

    Frame child;
    child.fd = fd;
    child.path = top.path + "/" + entry.name;
    child.nameInParent = entry.name;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !readListing(fd, child.entries)) {
      const int code = errno;
      ::close(fd);
      if (!sweep.fail(child.path, code)) {
        closeInner();
        return false;
      }
      continue;
    }
    child.device = st.st_dev;
    child.inode = st.st_ino;
    stack.push_back(std::move(child));
    if (stack.size() > kMaxOpenDirectories + 1) {
      Frame& outer = stack[stack.size() - 1 - kMaxOpenDirectories];
      if (outer.fd >= 0) {
        ::close(outer.fd);
        outer.fd = -1;
      }
    }
  }
}

// The errno that refuses `parts` as an item to remove or empty, or 0.
int refusalOf(const PathParts& parts) {
  if (parts.name.empty()) return parts.parent == "/" ? EBUSY : ENOENT;
  if (parts.name == "." || parts.name == "..") return EINVAL;
  return 0;
}

}  // namespace

std::optional<std::string> removeItem(const std::string& path) {
  const PathParts parts = splitLastComponent(path);
  if (const int refusal = refusalOf(parts)) return pathErrorText(path, refusal);
  Descriptor parent(::open(parts.parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.ok()) return pathErrorText(path, errno);
  const char* name = parts.name.c_str();

  struct stat st;
  if (::fstatat(parent.get(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) return pathErrorText(path, errno);
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(parent.get(), name, 0) != 0) return pathErrorText(path, errno);
    return std::nullopt;
  }

  Descriptor directory(::openat(parent.get(), name, kDirectoryOpenFlags));
  if (!directory.ok()) {
    const int openError = errno;
    // An empty folder we may not read can still go.
    if (::unlinkat(parent.get(), name, AT_REMOVEDIR) == 0) return std::nullopt;
    return pathErrorText(path, openError);
  }
  Sweep sweep;
  if (!clearDirectory(directory.get(), withoutTrailingSlashes(path), sweep)) return sweep.firstFailure;
  if (::unlinkat(parent.get(), name, AT_REMOVEDIR) != 0) return pathErrorText(path, errno);
  return std::nullopt;
}

void emptyDirectory(const std::string& path, const std::function<bool()>& cancelled) {
  const PathParts parts = splitLastComponent(path);
  if (refusalOf(parts)) return;
  Descriptor parent(::open(parts.parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.ok()) return;
  Descriptor directory(::openat(parent.get(), parts.name.c_str(), kDirectoryOpenFlags));
  if (!directory.ok()) return;
  Sweep sweep;
  sweep.stopAtFirstFailure = false;
  sweep.cancelled = &cancelled;
  clearDirectory(directory.get(), withoutTrailingSlashes(path), sweep);
}

}  // namespace nimbra
