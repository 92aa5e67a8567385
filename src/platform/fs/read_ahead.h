#pragma once

// The walker's readers ahead: threads that list the directories the walk will enter next, and
// look at their regular (and untyped) entries, while the walk's own thread hands out entries in
// order. The walk itself (dir_walker.cpp) stays the only one that decides: it takes a batch when
// it enters a directory, reads the directory itself when no batch is ready (it never waits for a
// reader), and drops what it does not enter. So every answer is exactly what a walk on one
// thread gives; the readers only make it sooner. A reader with nothing to read ahead helps the
// walk look at the files of a directory the walk is listing itself.
//
// Directories are named by their place in the walk (dir_key.h). The walk needs them in
// pre-order, which is the order of these keys, so a reader always takes the earliest directory
// offered that it may read.
//
// Bounded: the batches read and not yet taken hold at most kLookAheadBytes (and as many open
// directories as kMaxBatches), a batch lists at most kMaxBatchEntries before the walk goes on
// from where it stopped, and at most kMaxOffered directories wait to be read.
//
// Threads: offer, take, drop, askHelp, retract, handBack and leave come from the walk's thread; the
// readers are the object's own, stopped and joined when it goes away.

#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/descriptor.h"
#include "platform/fs/dir_key.h"
#include "platform/fs/mount_table.h"

namespace nimbra {

// A mutex that spins a little before it sleeps.
class AdaptiveMutex {
 public:
  AdaptiveMutex() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
    pthread_mutex_init(&mutex_, &attr);
    pthread_mutexattr_destroy(&attr);
  }
  ~AdaptiveMutex() { pthread_mutex_destroy(&mutex_); }
  void lock() { pthread_mutex_lock(&mutex_); }
  void unlock() { pthread_mutex_unlock(&mutex_); }
  bool try_lock() { return pthread_mutex_trylock(&mutex_) == 0; }

 private:
  pthread_mutex_t mutex_;
};

// How many threads a walk may use: NIMBRA_WALK_THREADS when it is a number of at least 1,
// otherwise the processors this process may run on; at least one. Read once.
size_t walkThreads();

// What a reader found of one listed entry, when it looked (regular and untyped entries).
struct LookedAt {
  int error = 0;  // 0: `info` holds its lstat; else the errno
  struct stat info {};
};

// A directory read ahead. A reader fills it; the walk may take it while the reader is still
// looking at its entries (once it is listed), and then uses what the reader has looked at and
// looks at the rest itself, the reader going on ahead of the walk.
//
// Or a part of a listing the walk made itself, which a reader with nothing to read ahead helps
// it look at: the two go through its entries from either end and meet.
struct Batch {
  // Open, and positioned after `records` when not complete. Once listed, the walk's alone (the
  // reader keeps its own copy): let go when the walk closes the directory to keep its bound on
  // open ones, or with the batch when it is handed back.
  std::shared_ptr<Descriptor> fd;
  dev_t dev = 0;
  ino_t ino = 0;
  int openError = 0;          // it could not be opened: the errno (the rest is empty)
  bool notEntered = false;    // a kernel pseudo file system, which the walk never enters
  std::vector<char> records;  // getdents64 records, "." and ".." included as the kernel gave them
  bool complete = true;       // false: the listing goes on from `fd`
  int listError = 0;          // the listing stopped with this errno
  uint32_t entries = 0;       // listed, "." and ".." not counted
  bool walkListed = false;    // the walk's own listing, which a reader helps look at
  uint32_t firstIndex = 0;    // the listing index of its first entry (0 but for the walk's own)
  std::unique_ptr<LookedAt[]> lookedAt;  // by index among the listed entries
  // Per entry: true once lookedAt holds what the reader saw of it.
  std::unique_ptr<std::atomic<bool>[]> looked;
  // The fields above are final once this is true (the reader stores it, with release).
  std::atomic<bool> listed{false};
  // The entry the walk has reached: the reader does not look at what lies before it.
  std::atomic<uint32_t> walkAt{0};
  // The walk read the directory itself, or will not enter it: the reader stops.
  std::atomic<bool> unwanted{false};
  std::shared_ptr<struct OfferedParent> offeredAs;  // its entries, as offered for reading
  uint32_t room = 0;  // entries lookedAt and looked hold (kept when the batch is reused)

  // Ready for another directory: a reader reuses the batches the walk hands back, keeping the
  // memory they took, rather than allocate four blocks for every directory it reads.
  void reset();
  // Space to look at `entries` entries, none of them looked at yet.
  void prepareLooks();

  // The memory it holds, as counted against the bounds.
  size_t bytes() const {
    return records.size() + entries * (sizeof(LookedAt) + sizeof(std::atomic<bool>));
  }

  // What the reader saw of entry `index`, once it has looked; nullptr before.
  const LookedAt* seen(uint32_t index) const {
    if (index < firstIndex) return nullptr;
    index -= firstIndex;
    if (index >= entries || !looked || !looked[index].load(std::memory_order_acquire))
      return nullptr;
    return &lookedAt[index];
  }
};

// A directory offered for reading (the read-ahead's, under its lock), by its key.
struct OfferedDirectory {
  std::string name;
  std::shared_ptr<struct OfferedParent> parent;
  uint32_t index = 0;  // among the parent's listed entries
  enum class State { waiting, reading, ready } state = State::waiting;
  bool abandoned = false;
  std::shared_ptr<Batch> batch{};
  size_t bytes = 0;      // of the batch, counted against the look-ahead
  uint32_t readyAt = 0;  // its place among the ready ones, once ready
};
using OfferedMap = std::map<DirKey, OfferedDirectory>;

// A directory whose entries are offered: what a reader needs to open them.
struct OfferedParent {
  OfferedParent(std::shared_ptr<Descriptor> directory, dev_t device, int level)
      : fd(std::move(directory)), dev(device), depth(level) {}

  std::shared_ptr<Descriptor> fd;  // reset when the walk closes it: its entries are the walk's
  dev_t dev = 0;
  int depth = 0;  // the root's is 0
  // How many of its entries are offered now. Changed under the lock; the walk reads it without,
  // to ask for what is offered below a directory to be dropped only when something is: it never
  // reads too few, since every offer it can see was made before it took the directory.
  std::atomic<uint32_t> stillOffered{0};
  // Its entries offered, in listing order: the walk finds the one it enters here rather than
  // among all those offered. One no longer offered stays, pointing at the map's end, until the
  // walk has gone past it. Under the lock.
  struct Child {
    uint32_t index;
    OfferedMap::iterator at;
  };
  std::vector<Child> children;
  // The child of listing index `index`, or children.end().
  std::vector<Child>::iterator child(uint32_t index) {
    const auto at =
        std::lower_bound(children.begin(), children.end(), index,
                         [](const Child& c, uint32_t wanted) { return c.index < wanted; });
    return at != children.end() && at->index == index ? at : children.end();
  }
};

// Which directories the walk never enters, so that no reader reads them: hidden ones, package
// contents and those the walk's own rule prunes by name and depth (asked from any thread).
struct ReadAheadRules {
  bool skipHidden = false;
  bool skipPackageContents = false;
  std::function<bool(std::string_view name, int depth)> prunes;
  std::vector<MountEntry> mounts;  // for telling devtmpfs from tmpfs
};

// How long the calling thread has run or waited for a processor to run on (all but the time it
// was blocked), and the time on the monotonic clock, in seconds.
struct PacingTimes {
  double runnable = 0;
  double elapsed = 0;
};
PacingTimes threadTimes();

// Whether the walk goes on offering directories to its readers. Readers run on what the
// machine leaves over; when every other core is busy they get little done, and offering to them
// only costs the walk. So after a stretch of directories the walk entered, reading them mostly
// itself, in which the readers made fewer than one system call for every kHeldBack of the walk's
// own while the walk never blocked, it stops offering for a while and then tries again, waiting
// twice as long after each such stretch (up to kMaxPauses stretches), and as little as one again
// after a stretch in which they kept up. Readers that are ahead (the walk taking what they read)
// are not held back; nor are they in a stretch in which the walk waited (for the disk, when it is
// cold): they wait for it too, and a single slow read of theirs is no reason to stop.
class ReadAheadPacing {
 public:
  static constexpr uint32_t kStretch = 256;  // directories entered
  static constexpr uint32_t kMaxPauses = 32;
  static constexpr uint64_t kHeldBack = 8;
  static constexpr double kBusyShare = 0.8;  // of the stretch's time, the walk runnable

  // `clock` is the walk thread's (a test's own in tests).
  explicit ReadAheadPacing(PacingTimes (*clock)() = threadTimes) : clock_(clock) {}

  bool offering() const { return pausesLeft_ == 0; }
  // The walk entered a directory the readers could have read; `walkCalls` and `readerCalls`
  // are the system calls the walk and its readers have made so far to read the tree.
  void entered(uint64_t walkCalls, uint64_t readerCalls);

 private:
  PacingTimes (*clock_)();
  PacingTimes start_;  // of the stretch
  uint64_t walkCallsAtStart_ = 0;
  uint64_t readerCallsAtStart_ = 0;
  uint32_t entered_ = 0;
  uint32_t pauses_ = 1;      // stretches to pause for after the next one that holds them back
  uint32_t pausesLeft_ = 0;  // stretches still paused
};

class ReadAhead {
 public:
  static constexpr size_t kLookAheadBytes = size_t{4} << 20;
  static constexpr size_t kMaxBatches = 64;
  static constexpr size_t kMaxBatchEntries = 4096;
  static constexpr size_t kMaxOffered = 16384;
  // A listing of the walk's own with fewer files than this is not worth a reader's help: asking
  // costs the walk a copy of it and the lock, about what looking at a few dozen files saves.
  static constexpr uint32_t kMinHelped = 24;
  // Directories deeper than this are the walk's alone: a key grows with the depth, and a chain
  // thousands of folders deep would cost a copy and a comparison of its whole key at each step,
  // for little to read ahead.
  static constexpr size_t kMaxDepth = 64;

  ReadAhead(size_t readers, ReadAheadRules rules);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The entries of `records` (getdents64 records of the directory at `parentKey`, the first of
  // them the `firstIndex`-th entry of its listing) that are directories the walk may enter are
  // offered for reading. An entry of unknown type is offered too; a reader finds out.
  void offer(const DirKey& parentKey, const std::shared_ptr<OfferedParent>& parent,
             const char* records, size_t size, uint32_t firstIndex);
  // The batch of the directory at `key`, when one is listed: ready, or still being looked at
  // (`inProgress`: its subdirectories are not offered, the walk offers them). The directory is
  // then no longer offered; one being listed still is the walk's to read (the reader's batch is
  // thrown away). It is found as the `index`-th entry of `parent`, the directory it was offered
  // from, when the walk has that at hand; otherwise by its key.
  std::shared_ptr<Batch> take(const DirKey& key, OfferedParent* parent, uint32_t index,
                              bool& inProgress);
  // The directory at `key` and everything below it will not be entered.
  void drop(const DirKey& key);
  // Part of a directory the walk listed itself: `records`, the first of them the
  // `firstIndex`-th entry of its listing, open as `fd`. When enough of its entries want a look,
  // the batch a reader with nothing to read ahead helps with; the walk keeps it in place of a
  // reader's, and hands it back (or retracts it) the same way. Null when not worth a reader.
  std::shared_ptr<Batch> askHelp(const std::shared_ptr<Descriptor>& fd, const char* records,
                                 size_t size, uint32_t firstIndex);
  // The walk closes a directory: readers no longer open its entries (`parent`, when they were
  // offered) or look at them (`helped`, when a reader was asked to help).
  void retract(OfferedParent* parent, const Batch* helped);
  // The walk is done with a batch it took: a reader lets it go.
  void handBack(std::shared_ptr<Batch> batch);
  // The walk leaves the directory at `key` for good, in one step (it does so for every
  // directory): what is offered below it goes when `dropBelow`, readers no longer open the
  // entries offered as `parent`, and `batch`, when there is one, is handed back.
  void leave(const DirKey& key, bool dropBelow, OfferedParent* parent,
             std::shared_ptr<Batch> batch);
  // The system calls the readers have made to read the tree, together.
  uint64_t readerCalls() const { return readerCalls_.load(std::memory_order_relaxed); }

 private:
  using Offered = OfferedDirectory;
  // A listing of the walk's own that a reader may help with, and its directory.
  struct HelpAsked {
    std::shared_ptr<Batch> batch;
    std::shared_ptr<Descriptor> fd;
    explicit operator bool() const { return batch != nullptr; }
  };

  void readerLoop();
  // Whether a reader may take a directory now, with fewer than `batches` and `bytes` held.
  bool mayRead(size_t batches, size_t bytes) const;
  // Whether a sleeping reader goes on: once asleep, a reader waits for room for several
  // batches, not one, and is only woken then; the walk taking a batch would otherwise wake it
  // for every directory.
  bool mayWake() const;
  // The directory a reader takes next: the earliest waiting, but for the one the walk enters
  // next. Only while some wait.
  std::set<DirKey>::iterator nextPick() const;
  // Whether the directory a reader takes next comes before a batch already read.
  bool earlierWaits() const;
  // At the bound, the batch furthest on in the walk's order goes, with all offered below it, to
  // make room for an earlier directory that waits: the walk needs that one sooner, and it may be
  // deep in a subtree (the readers having gone ahead of it) whose directories it would
  // otherwise read alone while the readers wait. False when no batch is later.
  bool makeRoomForEarlier();
  // Reads the directory `name` of `parent` (whose descriptor is `parentFd`) into `batch`; the
  // directory's descriptor when it is to be entered.
  std::shared_ptr<Descriptor> read(Batch& batch, const std::shared_ptr<Descriptor>& parentFd,
                                   dev_t parentDev, const std::string& name);
  // Looks at the entries of `batch` that want it (regular and untyped ones), through `fd`, from
  // the last back to where the walk has got.
  void lookAt(Batch& batch, int fd);
  // Directories to offer, gathered without the lock and then adopted in one step.
  struct Offers {
    OfferedMap offered;
    std::set<DirKey> waiting;
    void add(DirKey key, uint32_t index, std::string_view name,
             const std::shared_ptr<OfferedParent>& parent);
  };
  // The subdirectories of a batch just read (open as `fd`), by what the reader saw of each entry.
  Offers offersOf(const DirKey& key, Batch& batch, const std::shared_ptr<Descriptor>& fd,
                  int depth) const;
  // Takes `offers` over, as far as kMaxOffered allows (called with the lock held).
  void adopt(Offers& offers);
  bool enters(std::string_view name, int depth) const;
  void erase(OfferedMap::iterator at);
  // Hands `batch` back (called with the lock held); what it withdraws from help_ goes to
  // `withdrawn`, to be let go once the lock is.
  void handBackLocked(std::shared_ptr<Batch> batch, HelpAsked& withdrawn);
  // The `index`-th entry of `parent`, when it is offered; the map's end otherwise.
  OfferedMap::iterator childOf(OfferedParent& parent, uint32_t index);
  // What is offered at or below `key`, from `at` (its first) on, goes; a directory being read
  // is left to its reader, which is told it is unwanted.
  void dropFrom(OfferedMap::iterator at, const DirKey& key);

  // What the walk is done with of what readers made, let go by a reader: memory goes back to
  // the heap of the thread that took it, so that neither thread waits for the other's heap.
  static constexpr size_t kMaxSpent = 512;
  struct Spent {
    std::vector<OfferedMap::node_type> offered;
    std::vector<std::set<DirKey>::node_type> waiting;
    std::vector<std::shared_ptr<Batch>> batches;
    size_t size() const { return offered.size() + waiting.size() + batches.size(); }
    void reserve();
    // Lets it all go but the batches worth reusing, which go to `reusable`, reset.
    void clear(std::vector<std::shared_ptr<Batch>>& reusable);
  };
  // A reader keeps a few batches the walk handed back, of small directories (most are), to
  // read the next ones into.
  static constexpr size_t kMaxReusable = 8;
  static constexpr uint32_t kMaxReusedEntries = 512;
  static std::shared_ptr<Batch> spareBatch(std::vector<std::shared_ptr<Batch>>& reusable);

  const ReadAheadRules rules_;
  const int ioPriority_;  // the walk's, for the readers' disk requests
  AdaptiveMutex mutex_;
  std::condition_variable_any work_;  // a directory to read, room to read it, or the stop
  OfferedMap offered_;
  std::set<DirKey> waiting_;  // those a reader may take now, earliest first
  // The walk's own listing a reader may help with, and its directory: the latest asked for
  // (the directory the walk is in), until a reader takes it or the walk leaves.
  HelpAsked help_;
  size_t sleeping_ = 0;  // readers waiting for work
  // The directories whose batches are ready (at most kMaxBatches, room kept).
  std::vector<OfferedMap::iterator> ready_;
  size_t readyBytes_ = 0;
  size_t batches_ = 0;  // ready or being read
  Spent spent_;
  std::atomic<bool> stopping_{false};
  std::atomic<uint64_t> readerCalls_{0};
  std::vector<std::thread> readers_;
};

}  // namespace nimbra
