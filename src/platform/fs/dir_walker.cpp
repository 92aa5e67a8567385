#include "platform/fs/dir_walker.h"
#include "base/descriptor.h"
#include "base/file_times.h"
#include "base/path_parts.h"
#include "platform/fs/folder_listing.h"
#include "platform/fs/mount_table.h"
#include "platform/fs/package_names.h"
#include "platform/fs/read_ahead.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

// Cost per walk: the system calls are the whole of it. A directory costs openat, getdents64
// until it answers 0, and close; a regular file one fstatat when its size or time is asked
// for; nothing else is per entry. A stat of every directory (to spot mount points) is saved by
// the mount table below.
//
// A directory is read until getdents64 answers 0, never taken as read to its end from a short
// answer: with a signal pending (a stop and a continue, Ctrl-Z and fg) the kernel hands back
// what it has filled so far, however much remains, and a walk that took that for the end lost
// entries.

namespace nimbra {
namespace {

// One getdents64 call fills this much. Most directories arrive in one call; 32 KiB holds
// about a thousand short names.
constexpr size_t kReadChunk = 32 * 1024;

// Directories held open at once, counting the root. Deeper directories are read to their
// end, closed, and reopened from their nearest open ancestor if they are needed again.
constexpr size_t kMaxOpenDirectories = 32;

constexpr int kOpenDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A folder of files alone is worth starting readers for, to help look at them, from this many.
constexpr uint32_t kFilesWorthReaders = 256;

// What the listings the walk asks help with may hold at once: each stays with its directory
// until the walk leaves it, and a deep tree of big folders would keep one at every level.
constexpr size_t kMaxHelpBytes = size_t{1} << 20;

// What the mount table says about one walk: every mount point strictly below its root (by
// canonical path) and the mounts themselves, for telling devtmpfs from tmpfs. A directory that
// is not among those points cannot be a mount point, so no directory needs a stat to tell; one
// that is among them is asked with statfs, which also settles stacked and hidden mounts.
struct MountTable {
  bool known = false;  // false when /proc is missing: every directory is then checked
  std::string canonicalRoot;
  std::unordered_set<std::string> pointsBelow;
  std::vector<MountEntry> mounts;
};

// The table for a walk from the open directory `rootFd`.
MountTable mountTableFor(int rootFd) {
  MountTable table;
  table.mounts = nimbra::readMountTable();
  // The root as the kernel names it, so that it compares with the mount points.
  std::string canonical = canonicalPathOf(rootFd);
  if (canonical.empty()) return table;
  for (const MountEntry& point : table.mounts) {
    if (isStrictlyBelow(point.mountPoint, canonical)) table.pointsBelow.insert(point.mountPoint);
  }
  table.canonicalRoot = std::move(canonical);
  table.known = !table.mounts.empty();
  return table;
}

EntryType typeOfMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryType::regular;
  if (S_ISDIR(mode)) return EntryType::directory;
  if (S_ISLNK(mode)) return EntryType::symlink;
  return EntryType::other;
}

// One directory on the way from the root to the entry being returned.
struct Level {
  // Closed (null) while closed to keep descriptors bounded; shared with the readers ahead, which
  // open its entries through it.
  std::shared_ptr<Descriptor> fd;
  std::string name;           // its name in its parent, for reopening
  size_t pathLength = 0;      // length of its path at the front of Walk::directoryPath_
  dev_t dev = 0;              // identity (read when it is closed, checked when reopened);
  ino_t ino = 0;              // dev is also read on opening when the mount table is unknown
  std::vector<char> records;  // getdents64 records not yet returned start at `next`
  size_t next = 0;
  bool atEnd = false;       // everything the directory holds is in `records`
  bool unreadable = false;  // counted among the walk's unreadable directories
  // With readers ahead: its place in the walk, how many of its entries are listed (the next
  // listed is the `listed`-th) and handed out, what a reader looked at of them, the listing
  // error still to be said, and how its entries were offered.
  DirKey key;
  bool keyed = false;  // the readers know it by `key`: not so below ReadAhead::kMaxDepth
  uint32_t listed = 0;
  uint32_t returned = 0;
  std::shared_ptr<Batch> batch;  // what a reader looked at of its entries
  int listError = 0;
  std::shared_ptr<OfferedParent> offered;
  // Entries were offered before it was closed (as `offered`, let go then).
  bool offeredBeforeClosing = false;
};

bool isOpen(const Level& frame) { return frame.fd && frame.fd->ok(); }

// The whole walk; DirWalker and WalkEntry are thin views of it.
class Walk {
 public:
  Walk(std::string root, WalkOptions options);
  ~Walk();

  bool ok() const { return ok_; }
  bool advance();
  void skipDescendants() { descendPending_ = false; }

  // The entry just returned.
  const std::string& entryPath();
  std::string_view entryName() const { return name_; }
  int entryDepth() const { return static_cast<int>(live_); }
  EntryType entryType() const { return type_; }
  const struct stat* entryStat();
  int entryDirectoryFd() { return openTop(); }
  const UnreadableFolders& unreadable() const { return unreadable_; }

 private:
  Level& top() { return frames_[live_ - 1]; }
  Level& push();
  void pop();
  void descend();
  const MountTable& mounts();
  bool isMountPoint(std::string_view name);
  bool isPseudoMount(int fd);
  bool refill(Level& frame);
  void readToEnd(Level& frame);
  void askHelp(Level& frame, uint32_t firstIndex);
  void handBack(Level& frame);  // what a reader made for the frame, once the walk is done
  bool enter(std::shared_ptr<Batch> batch, bool inProgress, std::string name, DirKey key);
  void offerListed(Level& frame, size_t from);
  void closeFrame(Level& frame);
  // Whether anything may still be offered to the readers below the directory of `frame`.
  static bool mayHaveOfferedBelow(const Level& frame);
  void keepDescriptorsBounded();
  int openTop();
  static void appendToPath(std::string& path, std::string_view name);
  void noteUnreadable(std::string path, int error);
  void noteUnreadableTop(int error);

  WalkOptions options_;
  bool ok_ = false;
  int rootFd_ = -1;
  std::optional<MountTable> mounts_;  // read when first needed: a flat folder never needs it
  dev_t rootDevice_ = 0;              // only read when the mount table is unknown
  size_t rootLength_ = 0;
  std::vector<Level> frames_;  // reused across the walk, so record buffers keep their capacity
  size_t live_ = 0;            // frames_[0, live_) are the current directory and its ancestors
  size_t openCount_ = 0;
  size_t lowestMaybeOpen_ = 1;  // frames_[1, lowestMaybeOpen_) are closed; the root never is
  std::string directoryPath_;   // path of top()
  std::string canonicalScratch_;
  std::vector<char> chunk_;

  // Readers ahead, started when the walk first meets a directory to enter, on as many threads
  // as it may use besides its own.
  std::unique_ptr<ReadAhead> readAhead_;
  bool readAheadTried_ = false;
  ReadAheadPacing pacing_;
  uint64_t ownCalls_ = 0;  // openat, getdents64 and fstatat made by the walk's own thread
  size_t helpBytes_ = 0;   // held by the frames' listings a reader was asked to help with

  // The entry returned last.
  std::string_view name_;
  uint32_t entryIndex_ = 0;  // among its directory's listed entries
  EntryType type_ = EntryType::other;
  bool descendPending_ = false;
  enum class StatState { unread, read, failed } statState_ = StatState::unread;
  struct stat stat_ {};
  bool pathBuilt_ = false;
  std::string path_;

  UnreadableFolders unreadable_;
};

// An error that says the entry is no longer what the listing showed (gone, or replaced by a
// file or a link): nothing was left unread.
bool meansChanged(int code) { return code == ENOENT || code == ENOTDIR || code == ELOOP; }

Walk::Walk(std::string root, WalkOptions options) : options_(options), chunk_(kReadChunk) {
  // A trailing "/" would make the kernel follow a link at the root despite O_NOFOLLOW.
  std::string_view location = root;
  while (location.size() > 1 && location.back() == '/') location.remove_suffix(1);
  if (namesNoFile(location)) return;
  Descriptor fd(::open(std::string(location).c_str(), kOpenDirectoryFlags));
  if (!fd.ok()) {
    // A root that is there but cannot be opened holds everything the walk leaves out.
    if (const int error = errno; !meansChanged(error)) noteUnreadable(std::string(location), error);
    return;
  }
  ok_ = true;
  rootFd_ = fd.get();
  if (isPseudoMount(fd.get())) {
    rootFd_ = -1;
    return;
  }
  rootLength_ = root.size();
  directoryPath_ = std::move(root);
  Level& frame = push();
  frame.fd = std::make_shared<Descriptor>(std::move(fd));
  frame.pathLength = directoryPath_.size();
  frame.dev = rootDevice_;
  frame.keyed = true;
  openCount_ = 1;
}

const MountTable& Walk::mounts() {
  if (!mounts_) {
    mounts_ = mountTableFor(rootFd_);
    struct stat info {};
    if (!mounts_->known && ::fstat(rootFd_, &info) == 0) {
      rootDevice_ = info.st_dev;
      if (live_ > 0) frames_[0].dev = rootDevice_;
    }
  }
  return *mounts_;
}

Walk::~Walk() = default;

Level& Walk::push() {
  if (live_ == frames_.size()) frames_.emplace_back();
  Level& frame = frames_[live_++];
  frame.fd.reset();
  frame.records.clear();
  frame.next = 0;
  frame.atEnd = false;
  frame.unreadable = false;
  frame.key.clear();
  frame.keyed = false;
  frame.listed = 0;
  frame.returned = 0;
  frame.batch.reset();
  frame.listError = 0;
  frame.offered.reset();
  frame.offeredBeforeClosing = false;
  return frame;
}

void Walk::noteUnreadable(std::string path, int error) {
  UnreadableFolder folder{std::move(path), error};
  if (options_.onUnreadable) options_.onUnreadable(folder);
  unreadable_.add(std::move(folder));
}

// The directory being listed could not be read, or its entries not looked at.
void Walk::noteUnreadableTop(int error) {
  Level& frame = top();
  if (frame.unreadable) return;
  frame.unreadable = true;
  noteUnreadable(directoryPath_, error);
}

void Walk::pop() {
  Level& frame = top();
  if (readAhead_ && (frame.offered || frame.batch || frame.offeredBeforeClosing)) {
    // What was offered below it and never entered goes (entries that were no directories after
    // all), readers stop opening its entries, and what a reader made for it goes back.
    if (frame.batch && frame.batch->walkListed) helpBytes_ -= frame.batch->bytes();
    readAhead_->leave(frame.key, mayHaveOfferedBelow(frame), frame.offered.get(),
                      std::move(frame.batch));
    frame.offered.reset();
  }
  if (isOpen(frame)) closeFrame(frame);
  frame.records.clear();
  --live_;
  if (live_ > 0) directoryPath_.resize(top().pathLength);
  lowestMaybeOpen_ = std::min(lowestMaybeOpen_, std::max<size_t>(live_, 1));
}

bool Walk::mayHaveOfferedBelow(const Level& frame) {
  return frame.offeredBeforeClosing ||
         (frame.offered && frame.offered->stillOffered.load(std::memory_order_relaxed) > 0);
}

void Walk::closeFrame(Level& frame) {
  const Batch* helped = frame.batch && frame.batch->walkListed ? frame.batch.get() : nullptr;
  if (readAhead_ && (frame.offered || helped)) readAhead_->retract(frame.offered.get(), helped);
  if (frame.offered) frame.offeredBeforeClosing = true;
  frame.offered.reset();
  frame.fd.reset();
  --openCount_;
}

bool Walk::advance() {
  if (type_ == EntryType::directory && name_.data()) {
    if (descendPending_) {
      descendPending_ = false;
      descend();
    } else if (readAhead_ && mayHaveOfferedBelow(top())) {
      // Not entered (pruned, or a package): what was read ahead of it goes.
      readAhead_->drop(top().key.child(entryIndex_));
    }
  }
  name_ = {};
  while (live_ > 0) {
    Level& frame = top();
    if (frame.next >= frame.records.size() && !refill(frame)) {
      pop();
      continue;
    }
    DirentRecord record = readDirentRecord(frame.records.data() + frame.next);
    frame.next += record.length;
    if (isDotName(record.name)) continue;
    std::string_view name(record.name);
    const uint32_t index = frame.returned++;
    if (options_.skipHidden && name.front() == '.') continue;

    name_ = name;
    entryIndex_ = index;
    // A reader still looking at this directory's entries goes on ahead of the walk.
    if (frame.batch) frame.batch->walkAt.store(index, std::memory_order_relaxed);
    statState_ = StatState::unread;
    pathBuilt_ = false;
    switch (record.type) {
      case DT_REG: type_ = EntryType::regular; break;
      case DT_DIR: type_ = EntryType::directory; break;
      case DT_LNK: type_ = EntryType::symlink; break;
      case DT_UNKNOWN:
        // Some file systems do not report types in their listings; only then does naming
        // the type cost a stat. An entry that vanished in between is left out.
        if (!entryStat()) {
          name_ = {};
          continue;
        }
        type_ = typeOfMode(stat_.st_mode);
        break;
      default: type_ = EntryType::other; break;
    }
    descendPending_ = type_ == EntryType::directory &&
                      !(options_.skipPackageContents && isPackageName(name_)) &&
                      !(options_.prunes && options_.prunes(name_, entryDepth()));
    return true;
  }
  return false;
}

// Reads the next chunk of the top directory. False at its end or on a read error, when the
// frame has nothing more to give.
bool Walk::refill(Level& frame) {
  if (frame.listError != 0) {
    // A reader's listing stopped there: said as the walk's own would be, where it ends.
    if (!meansChanged(frame.listError)) noteUnreadableTop(frame.listError);
    frame.listError = 0;
  }
  if (frame.atEnd || !isOpen(frame)) return false;
  ssize_t n;
  do {
    n = ::getdents64(frame.fd->get(), chunk_.data(), chunk_.size());
    ++ownCalls_;
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    if (n < 0 && !meansChanged(errno)) noteUnreadableTop(errno);
    frame.atEnd = true;
    return false;
  }
  frame.records.assign(chunk_.data(), chunk_.data() + n);
  frame.next = 0;
  const uint32_t first = frame.returned;
  offerListed(frame, 0);
  askHelp(frame, first);
  return true;
}

// Asks the readers to help look at the entries the walk has just listed itself (the first of
// them the `firstIndex`-th of its directory), when there are enough of them.
void Walk::askHelp(Level& frame, uint32_t firstIndex) {
  if (!readAhead_ || !pacing_.offering() || helpBytes_ >= kMaxHelpBytes) return;
  std::shared_ptr<Batch> help =
      readAhead_->askHelp(frame.fd, frame.records.data(), frame.records.size(), firstIndex);
  if (!help) return;
  // What a reader looked at of earlier entries is of no more use: the walk is past them.
  handBack(frame);
  helpBytes_ += help->bytes();
  frame.batch = std::move(help);
}

void Walk::handBack(Level& frame) {
  if (!frame.batch) return;
  if (frame.batch->walkListed) helpBytes_ -= frame.batch->bytes();
  readAhead_->handBack(std::move(frame.batch));
}

void Walk::readToEnd(Level& frame) {
  if (frame.atEnd) return;
  frame.records.erase(frame.records.begin(),
                      frame.records.begin() + static_cast<std::ptrdiff_t>(frame.next));
  frame.next = 0;
  for (;;) {
    const ssize_t n = ::getdents64(frame.fd->get(), chunk_.data(), chunk_.size());
    ++ownCalls_;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    frame.records.insert(frame.records.end(), chunk_.data(), chunk_.data() + n);
  }
  frame.atEnd = true;
}

// Whether the directory `name` of top() is listed as a mount point.
bool Walk::isMountPoint(std::string_view name) {
  if (mounts().pointsBelow.empty()) return false;
  std::string& canonical = canonicalScratch_;
  canonical.assign(mounts_->canonicalRoot);
  std::string_view relative = std::string_view(directoryPath_).substr(rootLength_);
  while (relative.starts_with('/')) relative.remove_prefix(1);
  if (!relative.empty()) appendToPath(canonical, relative);
  appendToPath(canonical, name);
  return mounts_->pointsBelow.contains(canonical);
}

// Whether the directory open as `fd`, the root of a file system, holds a kernel pseudo file
// system.
bool Walk::isPseudoMount(int fd) {
  struct statfs info {};
  if (::fstatfs(fd, &info) != 0) return false;
  auto magic = static_cast<unsigned long>(info.f_type);
  if (isPseudoFileSystemMagic(magic)) return true;
  if (magic == TMPFS_MAGIC || magic == RAMFS_MAGIC) {
    struct stat device {};
    if (mounts().known && ::fstat(fd, &device) == 0 && isDevTmpfs(device.st_dev, mounts().mounts)) {
      return true;
    }
  }
  return false;
}

void Walk::descend() {
  // name_ points into the parent's records, which stay put until the next refill.
  std::string name(name_);
  // Below the depth the readers go to, a directory is the walk's alone: it has no key.
  const bool keyed = readAhead_ && top().keyed && top().key.depth() < ReadAhead::kMaxDepth;
  DirKey key;
  if (keyed) {
    key = top().key.child(entryIndex_);
    bool inProgress = false;
    // While nothing is offered below this directory (the readers paused, or the entries not
    // worth reading ahead), the walk does not even ask.
    std::shared_ptr<Batch> batch =
        mayHaveOfferedBelow(top())
            ? readAhead_->take(key, top().offered.get(), entryIndex_, inProgress)
            : nullptr;
    pacing_.entered(ownCalls_, readAhead_->readerCalls());
    if (batch) {
      enter(std::move(batch), inProgress, std::move(name), std::move(key));
      return;
    }
  }
  int parentFd = openTop();
  if (parentFd < 0) return;
  Descriptor fd(::openat(parentFd, name.c_str(), kOpenDirectoryFlags));
  ++ownCalls_;
  if (!fd.ok()) {
    // Unreadable is said; replaced by a link or a file, or vanished, is nothing left unread.
    if (const int error = errno; !meansChanged(error)) {
      std::string path = directoryPath_;
      appendToPath(path, name);
      noteUnreadable(std::move(path), error);
    }
    return;
  }
  dev_t dev = 0;
  bool crossesMount;
  if (mounts().known) {
    crossesMount = isMountPoint(name);
  } else {
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return;
    dev = info.st_dev;
    crossesMount = dev != top().dev;
  }
  if (crossesMount && isPseudoMount(fd.get())) return;
  appendToPath(directoryPath_, name);
  Level& frame = push();
  frame.fd = std::make_shared<Descriptor>(std::move(fd));
  frame.name = std::move(name);
  frame.dev = dev;
  frame.pathLength = directoryPath_.size();
  frame.key = std::move(key);
  frame.keyed = keyed;
  ++openCount_;
  keepDescriptorsBounded();
}

// Enters a directory a reader has read: what it could not open is said here, where the walk
// would have found out itself.
bool Walk::enter(std::shared_ptr<Batch> batch, bool inProgress, std::string name, DirKey key) {
  if (batch->openError != 0) {
    if (!meansChanged(batch->openError)) {
      std::string path = directoryPath_;
      appendToPath(path, name);
      noteUnreadable(std::move(path), batch->openError);
    }
    return false;
  }
  if (batch->notEntered || !batch->fd) return false;
  appendToPath(directoryPath_, name);
  Level& frame = push();
  frame.fd = batch->fd;
  frame.name = std::move(name);
  frame.dev = batch->dev;
  frame.ino = batch->ino;
  frame.pathLength = directoryPath_.size();
  frame.key = std::move(key);
  frame.keyed = true;
  frame.atEnd = batch->complete;
  frame.listError = batch->listError;
  frame.listed = batch->entries;
  // Copied, not taken: the batch goes back to the readers whole, buffers and all.
  frame.records.assign(batch->records.begin(), batch->records.end());
  // Its subdirectories are offered already, unless the reader is still going through them;
  // then they are offered from here.
  if (!inProgress) frame.offered = batch->offeredAs;
  frame.batch = std::move(batch);
  ++openCount_;
  keepDescriptorsBounded();
  if (inProgress) {
    frame.listed = 0;
    offerListed(frame, 0);
  }
  return true;
}

// Offers the directories among the entries of `frame` listed from `records[from]` on to the
// readers ahead, starting them the first time there is something to read.
void Walk::offerListed(Level& frame, size_t from) {
  if (!frame.keyed || frame.key.depth() >= ReadAhead::kMaxDepth) return;
  if (!readAhead_) {
    if (readAheadTried_) return;
    // Worth threads only once there is a folder to read ahead, or files enough to share.
    bool worth = false;
    uint32_t files = 0;
    for (size_t at = from; at < frame.records.size() && !worth;) {
      const DirentRecord record = readDirentRecord(frame.records.data() + at);
      at += record.length;
      if (record.type == DT_REG) {
        worth = ++files >= kFilesWorthReaders;
      } else {
        worth = (record.type == DT_DIR || record.type == DT_UNKNOWN) && !isDotName(record.name);
      }
    }
    if (!worth) return;
    readAheadTried_ = true;
    const size_t threads = options_.threads > 0 ? options_.threads : walkThreads();
    if (threads < 2) return;
    readAhead_ = std::make_unique<ReadAhead>(
        threads - 1, ReadAheadRules{options_.skipHidden, options_.skipPackageContents,
                                    options_.prunes, mounts().mounts});
  }
  // Counted whether offered or not: a later part of the listing is offered by its place in it.
  const uint32_t first = frame.listed;
  for (size_t at = from; at < frame.records.size();) {
    const DirentRecord record = readDirentRecord(frame.records.data() + at);
    at += record.length;
    if (!isDotName(record.name)) ++frame.listed;
  }
  if (!pacing_.offering()) return;
  if (!frame.offered) {
    struct stat info {};
    if (!isOpen(frame) || ::fstat(frame.fd->get(), &info) != 0) return;
    frame.offered =
        std::make_shared<OfferedParent>(frame.fd, info.st_dev, static_cast<int>(live_) - 1);
  }
  readAhead_->offer(frame.key, frame.offered, frame.records.data() + from,
                    frame.records.size() - from, first);
}

// Closes the open directories farthest from the top until the bound holds. A directory is
// read to its end before it is closed, so it never has to be read again, only reopened for
// *at() calls on the entries still to come; its identity is noted for that reopening.
void Walk::keepDescriptorsBounded() {
  while (openCount_ > kMaxOpenDirectories) {
    while (lowestMaybeOpen_ < live_ && !isOpen(frames_[lowestMaybeOpen_])) ++lowestMaybeOpen_;
    if (lowestMaybeOpen_ + 1 >= live_) return;  // only the top is left; it stays open
    Level& frame = frames_[lowestMaybeOpen_];
    readToEnd(frame);
    struct stat info {};
    if (::fstat(frame.fd->get(), &info) == 0) {
      frame.dev = info.st_dev;
      frame.ino = info.st_ino;
    } else {
      frame.records.clear();  // cannot be recognised again: give up what it still holds
      frame.next = 0;
    }
    closeFrame(frame);
    // A reader's batch holds the same descriptor; what it looked at stays for the walk's return.
    // (A frame left for good hands its batch back instead, and the reader closes it there.)
    if (frame.batch) frame.batch->fd.reset();
  }
}

// The top directory's descriptor, reopened when it was closed: walking down by name from the
// nearest open ancestor, never through a link, and checking that each directory is still the
// one first read. A directory replaced or moved meanwhile ends that part of the walk.
int Walk::openTop() {
  if (live_ == 0) return -1;
  if (isOpen(top())) return top().fd->get();
  size_t ancestor = live_ - 1;
  while (!isOpen(frames_[ancestor])) {
    if (ancestor == 0) return -1;  // an earlier reopening failed on the way down
    --ancestor;
  }
  for (size_t i = ancestor + 1; i < live_; ++i) {
    Level& frame = frames_[i];
    Descriptor fd(::openat(frames_[i - 1].fd->get(), frame.name.c_str(), kOpenDirectoryFlags));
    struct stat info {};
    bool same = fd.ok() && ::fstat(fd.get(), &info) == 0 && info.st_dev == frame.dev &&
                info.st_ino == frame.ino;
    if (!same) {
      for (size_t j = i; j < live_; ++j) {
        frames_[j].records.clear();
        frames_[j].next = 0;
      }
      return -1;
    }
    frame.fd = std::make_shared<Descriptor>(std::move(fd));
    ++openCount_;
    lowestMaybeOpen_ = std::min(lowestMaybeOpen_, i);
  }
  keepDescriptorsBounded();
  return top().fd->get();
}

void Walk::appendToPath(std::string& path, std::string_view name) {
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
}

const std::string& Walk::entryPath() {
  if (!pathBuilt_) {
    path_.assign(directoryPath_);
    appendToPath(path_, name_);
    pathBuilt_ = true;
  }
  return path_;
}

const struct stat* Walk::entryStat() {
  if (statState_ == StatState::unread) {
    const Level& frame = top();
    int error = 0;
    if (const LookedAt* seen = frame.batch ? frame.batch->seen(entryIndex_) : nullptr) {
      // A reader looked already.
      error = seen->error;
      if (error == 0) stat_ = seen->info;
    } else {
      const int fd = openTop();
      if (fd < 0) {
        statState_ = StatState::failed;
        return nullptr;
      }
      // name_ is a NUL-terminated name inside the record buffer.
      error = ::fstatat(fd, name_.data(), &stat_, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
      ++ownCalls_;
    }
    statState_ = error == 0 ? StatState::read : StatState::failed;
    // A folder that can be listed but not searched names its entries and hides the rest.
    if (error != 0 && !meansChanged(error)) noteUnreadableTop(error);
  }
  return statState_ == StatState::read ? &stat_ : nullptr;
}

}  // namespace

// --- WalkEntry and DirWalker: views of the walk ---

struct WalkEntry::Impl {
  Walk* walk;
};

const std::string& WalkEntry::path() const { return impl_->walk->entryPath(); }
std::string_view WalkEntry::name() const { return impl_->walk->entryName(); }
int WalkEntry::depth() const { return impl_->walk->entryDepth(); }
EntryType WalkEntry::type() const { return impl_->walk->entryType(); }
const struct stat* WalkEntry::stat() const { return impl_->walk->entryStat(); }
int WalkEntry::directoryFd() const { return impl_->walk->entryDirectoryFd(); }

int64_t WalkEntry::size() const {
  if (!isRegular()) return 0;
  const struct stat* info = stat();
  return info && S_ISREG(info->st_mode) ? static_cast<int64_t>(info->st_size) : 0;
}

int64_t WalkEntry::modified() const {
  const struct stat* info = stat();
  if (!info) return 0;
  return wholeSeconds(info->st_mtim);
}

struct DirWalker::State {
  State(std::string root, WalkOptions options) : walk(std::move(root), options) {}
  Walk walk;
  WalkEntry::Impl impl{&walk};
  std::unique_ptr<WalkEntry> entry;
};

DirWalker::DirWalker(std::string root, WalkOptions options)
    : state_(std::make_unique<State>(std::move(root), options)) {
  state_->entry.reset(new WalkEntry(&state_->impl));
}

DirWalker::~DirWalker() = default;

bool DirWalker::ok() const { return state_->walk.ok(); }

const WalkEntry* DirWalker::next() {
  return state_->walk.advance() ? state_->entry.get() : nullptr;
}

void DirWalker::skipDescendants() { state_->walk.skipDescendants(); }

const UnreadableFolders& DirWalker::unreadable() const { return state_->walk.unreadable(); }

}  // namespace nimbra
