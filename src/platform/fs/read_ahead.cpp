#include "platform/fs/read_ahead.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/ioprio.h>
#include <linux/magic.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

#include "platform/fs/folder_listing.h"
#include "platform/fs/package_names.h"

namespace nimbra {
namespace {

constexpr int kOpenDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr size_t kReadChunk = 32 * 1024;

// The disk priority of the calling thread, as the kernel applies it: one derived from the CPU
// priority is spelled out, since a reader's CPU priority is lowered.
int walkIoPriority() {
  const long asked = ::syscall(SYS_ioprio_get, IOPRIO_WHO_PROCESS, 0);
  if (asked >= 0 && IOPRIO_PRIO_CLASS(asked) != IOPRIO_CLASS_NONE) return static_cast<int>(asked);
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, 0);
  const int level = errno == 0 ? std::clamp((nice + 20) / 5, 0, 7) : IOPRIO_NORM;
  return IOPRIO_PRIO_VALUE(IOPRIO_CLASS_BE, level);
}

}  // namespace

void Batch::reset() {
  fd.reset();
  dev = 0;
  ino = 0;
  openError = 0;
  notEntered = false;
  records.clear();
  complete = true;
  listError = 0;
  entries = 0;
  walkListed = false;
  firstIndex = 0;
  listed.store(false, std::memory_order_relaxed);
  walkAt.store(0, std::memory_order_relaxed);
  unwanted.store(false, std::memory_order_relaxed);
  offeredAs.reset();
}

void Batch::prepareLooks() {
  if (entries > room || !looked) {
    lookedAt = std::make_unique<LookedAt[]>(entries);
    looked = std::make_unique<std::atomic<bool>[]>(entries);
    room = entries;
    return;
  }
  for (uint32_t i = 0; i < entries; ++i) looked[i].store(false, std::memory_order_relaxed);
}

size_t walkThreads() {
  static const size_t threads = [] {
    if (const char* asked = std::getenv("NIMBRA_WALK_THREADS")) {
      char* end = nullptr;
      const long count = std::strtol(asked, &end, 10);
      if (end != asked && *end == '\0' && count >= 1) return static_cast<size_t>(count);
    }
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (::sched_getaffinity(0, sizeof cpus, &cpus) != 0) return size_t{1};
    return static_cast<size_t>(std::max(CPU_COUNT(&cpus), 1));
  }();
  return threads;
}

PacingTimes threadTimes() {
  const auto seconds = [](clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
  };
  PacingTimes times{0, seconds(CLOCK_MONOTONIC)};
  // The kernel's count of the time run and the time waited in a run queue, in nanoseconds;
  // without it, the time run alone. Read in one call rather than by readSmallFile, which sizes
  // its reads by a length this file does not report: this runs as the walk goes.
  char text[96];
  const Descriptor stats(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC));
  const ssize_t size = stats.ok() ? ::read(stats.get(), text, sizeof text - 1) : -1;
  unsigned long long ran = 0, waited = 0;
  if (size > 0) {
    text[size] = '\0';
    if (std::sscanf(text, "%llu %llu", &ran, &waited) == 2) {
      times.runnable = static_cast<double>(ran + waited) * 1e-9;
      return times;
    }
  }
  times.runnable = seconds(CLOCK_THREAD_CPUTIME_ID);
  return times;
}

void ReadAheadPacing::entered(uint64_t walkCalls, uint64_t readerCalls) {
  if (entered_ == 0) {
    walkCallsAtStart_ = walkCalls;
    readerCallsAtStart_ = readerCalls;
    if (offering()) start_ = clock_();
  }
  if (++entered_ < kStretch) return;
  entered_ = 0;
  if (!offering()) {
    --pausesLeft_;
    return;
  }
  const uint64_t walk = walkCalls - walkCallsAtStart_;
  const uint64_t readers = readerCalls - readerCallsAtStart_;
  bool heldBack = walk >= kStretch && readers * kHeldBack < walk;
  if (heldBack) {
    const PacingTimes now = clock_();
    heldBack = now.runnable - start_.runnable >= kBusyShare * (now.elapsed - start_.elapsed);
  }
  if (heldBack) {
    pausesLeft_ = pauses_;
    pauses_ = std::min(pauses_ * 2, kMaxPauses);
  } else {
    pauses_ = 1;
  }
}

ReadAhead::ReadAhead(size_t readers, ReadAheadRules rules)
    : rules_(std::move(rules)), ioPriority_(walkIoPriority()) {
  spent_.reserve();
  ready_.reserve(kMaxBatches);
  for (size_t i = 0; i < readers; ++i) readers_.emplace_back([this] { readerLoop(); });
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  for (std::thread& reader : readers_) reader.join();
}

bool ReadAhead::enters(std::string_view name, int depth) const {
  if (rules_.skipHidden && name.front() == '.') return false;
  if (rules_.skipPackageContents && isPackageName(name)) return false;
  return !(rules_.prunes && rules_.prunes(name, depth));
}

void ReadAhead::offer(const DirKey& parentKey, const std::shared_ptr<OfferedParent>& parent,
                      const char* records, size_t size, uint32_t firstIndex) {
  if (parentKey.depth() >= kMaxDepth) return;
  Offers offers;
  uint32_t index = firstIndex;
  for (size_t at = 0; at < size;) {
    const DirentRecord record = readDirentRecord(records + at);
    at += record.length;
    if (isDotName(record.name)) continue;
    const uint32_t entry = index++;
    if (record.type != DT_DIR && record.type != DT_UNKNOWN) continue;
    const std::string_view name(record.name);
    if (enters(name, parent->depth + 1)) offers.add(parentKey.child(entry), entry, name, parent);
  }
  if (offers.offered.empty()) return;
  bool wake;
  {
    std::lock_guard lock(mutex_);
    adopt(offers);
    wake = mayWake() || (sleeping_ > 0 && earlierWaits());
  }
  if (wake) work_.notify_all();
}

void ReadAhead::Offers::add(DirKey key, uint32_t index, std::string_view name,
                            const std::shared_ptr<OfferedParent>& parent) {
  // Offers are made in order: each goes last.
  parent->stillOffered.fetch_add(1, std::memory_order_relaxed);
  waiting.insert(waiting.end(), key);
  offered.emplace_hint(offered.end(), std::move(key), Offered{std::string(name), parent, index});
}

void ReadAhead::adopt(Offers& offers) {
  const size_t room = kMaxOffered > offered_.size() ? kMaxOffered - offered_.size() : 0;
  while (offers.offered.size() > room) {
    auto last = std::prev(offers.offered.end());
    last->second.parent->stillOffered.fetch_sub(1, std::memory_order_relaxed);
    offers.waiting.erase(last->first);
    offers.offered.erase(last);
  }
  // Moves the nodes over: nothing is allocated while the walk may be waiting for the lock (but
  // for a parent's list of children, now and then, when the walk offers more of a listing).
  // Each follows the one before: the offers are in order, and nothing lies between them yet.
  auto hint = offered_.end();
  for (auto next = offers.offered.begin(); next != offers.offered.end();) {
    auto node = offers.offered.extract(next++);
    OfferedParent& parent = *node.mapped().parent;
    const uint32_t index = node.mapped().index;
    const auto at = offered_.insert(hint, std::move(node));
    if (!node.empty()) {
      // Offered already (which the walk never does): the one there stays as it is.
      parent.stillOffered.fetch_sub(1, std::memory_order_relaxed);
      offers.waiting.erase(node.key());
      continue;
    }
    parent.children.push_back({index, at});
    hint = std::next(at);
  }
  auto waitingHint = waiting_.end();
  while (!offers.waiting.empty()) {
    waitingHint =
        std::next(waiting_.insert(waitingHint, offers.waiting.extract(offers.waiting.begin())));
  }
}

ReadAhead::Offers ReadAhead::offersOf(const DirKey& key, Batch& batch,
                                      const std::shared_ptr<Descriptor>& fd, int depth) const {
  Offers offers;
  if (!fd || key.depth() >= kMaxDepth) return offers;
  auto parent = std::make_shared<OfferedParent>(fd, batch.dev, depth);
  batch.offeredAs = parent;
  uint32_t index = 0;
  for (size_t at = 0; at < batch.records.size();) {
    const DirentRecord record = readDirentRecord(batch.records.data() + at);
    at += record.length;
    if (isDotName(record.name)) continue;
    const uint32_t entry = index++;
    bool directory = record.type == DT_DIR;
    if (record.type == DT_UNKNOWN) {
      const LookedAt* seen = batch.seen(entry);
      directory = seen && seen->error == 0 && S_ISDIR(seen->info.st_mode);
    }
    const std::string_view name(record.name);
    if (directory && enters(name, depth + 1)) offers.add(key.child(entry), entry, name, parent);
  }
  // Its list of children is made here, not under the lock.
  parent->children.reserve(offers.offered.size());
  return offers;
}

std::shared_ptr<Batch> ReadAhead::take(const DirKey& key, OfferedParent* parent, uint32_t index,
                                       bool& inProgress) {
  std::shared_ptr<Batch> batch;
  bool wake;
  inProgress = false;
  {
    std::unique_lock lock(mutex_);
    auto found = parent ? childOf(*parent, index) : offered_.find(key);
    if (found == offered_.end()) return nullptr;
    Offered& offered = found->second;
    if (offered.state == Offered::State::reading) {
      if (offered.batch && offered.batch->listed.load(std::memory_order_acquire)) {
        // Listed: the walk goes on with what the reader has looked at, and the reader ahead of
        // it; the batch it finishes goes nowhere else.
        batch = offered.batch;
        inProgress = true;
      } else if (offered.batch) {
        offered.batch->unwanted.store(true, std::memory_order_relaxed);
      }
      offered.abandoned = true;
      offered.batch.reset();
      return batch;
    }
    if (offered.state == Offered::State::ready) batch = std::move(offered.batch);
    erase(found);
    wake = mayWake();
  }
  if (wake) work_.notify_all();
  return batch;
}

void ReadAhead::drop(const DirKey& key) {
  bool wake;
  {
    std::lock_guard lock(mutex_);
    dropFrom(offered_.lower_bound(key), key);
    wake = mayWake();
  }
  if (wake) work_.notify_all();
}

std::shared_ptr<Batch> ReadAhead::askHelp(const std::shared_ptr<Descriptor>& fd,
                                          const char* records, size_t size, uint32_t firstIndex) {
  uint32_t entries = 0;
  uint32_t wanted = 0;
  for (size_t at = 0; at < size;) {
    const DirentRecord record = readDirentRecord(records + at);
    at += record.length;
    if (isDotName(record.name)) continue;
    ++entries;
    if (record.type == DT_REG || record.type == DT_UNKNOWN) ++wanted;
  }
  if (wanted < kMinHelped) return nullptr;
  auto batch = std::make_shared<Batch>();
  batch->walkListed = true;
  batch->firstIndex = firstIndex;
  batch->entries = entries;
  batch->records.assign(records, records + size);
  batch->prepareLooks();
  batch->listed.store(true, std::memory_order_release);
  HelpAsked previous;  // let go once the lock is
  bool wake;
  {
    std::lock_guard lock(mutex_);
    previous = std::exchange(help_, HelpAsked{batch, fd});
    wake = sleeping_ > 0;
  }
  if (wake) work_.notify_all();
  return batch;
}

void ReadAhead::retract(OfferedParent* parent, const Batch* helped) {
  // Let go once the lock is: the last of them may close the directory.
  HelpAsked withdrawn;
  std::lock_guard lock(mutex_);
  if (parent) parent->fd.reset();
  if (helped && help_.batch.get() == helped) withdrawn = std::exchange(help_, {});
}

OfferedMap::iterator ReadAhead::childOf(OfferedParent& parent, uint32_t index) {
  auto& children = parent.children;
  const auto child = parent.child(index);
  if (child == children.end()) return offered_.end();
  const auto found = child->at;
  // The walk enters a directory's entries in order: those before this one are behind it. Let
  // go once they are most of the list, so that a folder of many folders keeps a short one.
  const auto passed = child - children.begin();
  if (passed >= 64 && 2 * static_cast<size_t>(passed) >= children.size())
    children.erase(children.begin(), child);
  return found;
}

void ReadAhead::erase(OfferedMap::iterator at) {
  Offered& offered = at->second;
  OfferedParent& parent = *offered.parent;
  parent.stillOffered.fetch_sub(1, std::memory_order_relaxed);
  if (const auto child = parent.child(offered.index); child != parent.children.end())
    child->at = offered_.end();
  if (offered.state == Offered::State::ready) {
    readyBytes_ -= offered.bytes;
    --batches_;
    ready_[offered.readyAt] = ready_.back();
    ready_[offered.readyAt]->second.readyAt = offered.readyAt;
    ready_.pop_back();
  }
  // Only a directory not yet read may be in the waiting set.
  auto waiting =
      offered.state == Offered::State::waiting ? waiting_.find(at->first) : waiting_.end();
  if (spent_.size() >= kMaxSpent) {
    if (waiting != waiting_.end()) waiting_.erase(waiting);
    offered_.erase(at);
    return;
  }
  if (waiting != waiting_.end()) spent_.waiting.push_back(waiting_.extract(waiting));
  spent_.offered.push_back(offered_.extract(at));
}

void ReadAhead::handBack(std::shared_ptr<Batch> batch) {
  HelpAsked withdrawn;  // let go once the lock is
  std::lock_guard lock(mutex_);
  handBackLocked(std::move(batch), withdrawn);
}

void ReadAhead::handBackLocked(std::shared_ptr<Batch> batch, HelpAsked& withdrawn) {
  // A reader still helping with it stops: the walk has left the directory.
  batch->unwanted.store(true, std::memory_order_relaxed);
  if (help_.batch == batch) withdrawn = std::exchange(help_, {});
  if (spent_.size() < kMaxSpent) spent_.batches.push_back(std::move(batch));
}

void ReadAhead::leave(const DirKey& key, bool dropBelow, OfferedParent* parent,
                      std::shared_ptr<Batch> batch) {
  HelpAsked withdrawn;  // let go once the lock is
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (dropBelow) {
      dropFrom(offered_.lower_bound(key), key);
      wake = mayWake();
    }
    if (parent) parent->fd.reset();
    if (batch) handBackLocked(std::move(batch), withdrawn);
  }
  if (wake) work_.notify_all();
}

void ReadAhead::Spent::reserve() {
  offered.reserve(kMaxSpent);
  waiting.reserve(kMaxSpent);
  batches.reserve(kMaxSpent);
}

void ReadAhead::Spent::clear(std::vector<std::shared_ptr<Batch>>& reusable) {
  offered.clear();
  waiting.clear();
  for (std::shared_ptr<Batch>& batch : batches) {
    // Held by no one else: no one can get hold of it again. Reset at once, so that it holds no
    // descriptor while it waits.
    if (reusable.size() < kMaxReusable && batch.use_count() == 1 &&
        batch->room <= kMaxReusedEntries && batch->records.capacity() <= 2 * kReadChunk) {
      batch->reset();
      reusable.push_back(std::move(batch));
    }
  }
  batches.clear();
}

std::shared_ptr<Batch> ReadAhead::spareBatch(std::vector<std::shared_ptr<Batch>>& reusable) {
  if (reusable.empty()) return std::make_shared<Batch>();
  std::shared_ptr<Batch> batch = std::move(reusable.back());
  reusable.pop_back();
  return batch;
}

void ReadAhead::dropFrom(OfferedMap::iterator at, const DirKey& key) {
  while (at != offered_.end() && at->first.isAtOrBelow(key)) {
    if (at->second.state == Offered::State::reading) {
      at->second.abandoned = true;
      if (at->second.batch) at->second.batch->unwanted.store(true, std::memory_order_relaxed);
      ++at;
    } else {
      erase(at++);
    }
  }
}

bool ReadAhead::mayRead(size_t batches, size_t bytes) const {
  return !waiting_.empty() && batches_ < batches && readyBytes_ < bytes;
}

bool ReadAhead::mayWake() const { return mayRead(kMaxBatches / 2, kLookAheadBytes / 2); }

std::set<DirKey>::iterator ReadAhead::nextPick() const {
  auto pick = waiting_.begin();
  // The earliest is left to the walk while there is another: the walk enters it next, most
  // likely before a reader has listed it, and then lists it itself; a reader does better a
  // step ahead.
  if (waiting_.size() > 1) ++pick;
  return pick;
}

bool ReadAhead::earlierWaits() const {
  if (waiting_.empty()) return false;
  const DirKey& pick = *nextPick();
  return std::any_of(ready_.begin(), ready_.end(), [&](auto at) { return pick < at->first; });
}

bool ReadAhead::makeRoomForEarlier() {
  if (!earlierWaits()) return false;
  const auto latest = *std::max_element(ready_.begin(), ready_.end(),
                                        [](auto a, auto b) { return a->first < b->first; });
  const DirKey key = latest->first;  // the node goes first
  dropFrom(latest, key);
  return true;
}

void ReadAhead::readerLoop() {
  // Reading ahead is a guess: it runs at the lowest priority, giving way to the walk's own
  // thread and to every other program. With the other cores busy the walk goes at the pace of
  // one thread, as it would without readers (and the walk's pacing stops offering to them). Not
  // as an idle-class thread, though: the kernel counts a processor that runs only those as free,
  // and puts every waking thread there, the walk's and the disk's own, so that on a cold disk an
  // idle reader got a third of the directories, where one at the lowest priority gets half.
  // Its reading from the disk keeps the walk's own priority (set first, since the lowest CPU
  // priority implies a lower one): the walk waits for the very blocks a reader asked for.
  const pid_t self = static_cast<pid_t>(::gettid());
  (void)::syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, self, ioPriority_);
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(self), 19);
  // The batch to read next, made while the lock is not held.
  std::vector<std::shared_ptr<Batch>> reusable;
  reusable.reserve(kMaxReusable);
  auto spare = std::make_shared<Batch>();
  Spent released;
  released.reserve();
  std::unique_lock lock(mutex_);
  for (;;) {
    if (stopping_) return;
    while (!help_ && !mayRead(kMaxBatches, kLookAheadBytes) && makeRoomForEarlier()) {
    }
    if (!help_ && !mayRead(kMaxBatches, kLookAheadBytes)) {
      ++sleeping_;
      work_.wait(lock, [this] { return stopping_ || help_ || mayWake() || earlierWaits(); });
      --sleeping_;
      continue;
    }
    if (help_ && !mayRead(kMaxBatches, kLookAheadBytes)) {
      // Nothing to read ahead: the reader helps the walk with the directory it is in, which the
      // walk is listing itself. (Reading ahead comes first: it spares the walk a directory
      // whole, and helping first was slower.)
      HelpAsked help = std::exchange(help_, {});
      std::swap(spent_, released);
      lock.unlock();
      released.clear(reusable);
      lookAt(*help.batch, help.fd->get());
      help = {};
      lock.lock();
      continue;
    }
    // Nothing is allocated or freed while the lock is held: the walk may be waiting for it.
    auto next = waiting_.extract(nextPick());
    const DirKey key = std::move(next.value());
    if (spent_.size() < kMaxSpent) spent_.waiting.push_back(std::move(next));
    const auto picked = offered_.find(key);
    Offered& offered = picked->second;
    // A directory whose parent the walk has closed is the walk's to read.
    std::shared_ptr<Descriptor> parentFd = offered.parent->fd;
    if (!parentFd) continue;
    offered.state = Offered::State::reading;
    ++batches_;
    offered.batch = spare;
    std::shared_ptr<Batch> batch = std::move(spare);
    const std::string name = std::move(offered.name);  // the reader's alone
    const dev_t parentDev = offered.parent->dev;
    const int depth = offered.parent->depth + 1;
    // What the walk is done with goes while no one waits for this thread.
    std::swap(spent_, released);
    lock.unlock();
    released.clear(reusable);
    std::shared_ptr<Descriptor> fd = read(*batch, parentFd, parentDev, name);
    Offers offers = offersOf(key, *batch, fd, depth);
    spare = spareBatch(reusable);
    // The walk may have closed the parent meanwhile: the last hold on it closes it here.
    parentFd.reset();
    lock.lock();
    // Still there: a directory being read is only ever erased by its reader.
    const auto found = picked;
    // The walk went past it, took it, or read it itself, meanwhile.
    if (found->second.abandoned) {
      --batches_;
      erase(found);  // not counted as ready
      work_.notify_all();
      // What it made goes unused: freed, and the directory closed, while the walk may take the
      // lock.
      lock.unlock();
      offers = {};
      batch.reset();
      fd.reset();
      lock.lock();
      continue;
    }
    adopt(offers);
    found->second.bytes = batch->bytes();
    readyBytes_ += found->second.bytes;
    found->second.state = Offered::State::ready;
    found->second.readyAt = static_cast<uint32_t>(ready_.size());
    ready_.push_back(found);
    work_.notify_all();
  }
}

std::shared_ptr<Descriptor> ReadAhead::read(Batch& batch,
                                            const std::shared_ptr<Descriptor>& parentFd,
                                            dev_t parentDev, const std::string& name) {
  // Whatever happens, the batch ends listed: the walk may be waiting to take it.
  struct Listed {
    Batch& batch;
    ~Listed() { batch.listed.store(true, std::memory_order_release); }
  };
  readerCalls_.fetch_add(1, std::memory_order_relaxed);
  auto fd =
      std::make_shared<Descriptor>(::openat(parentFd->get(), name.c_str(), kOpenDirectoryFlags));
  struct stat own {};
  if (!fd->ok() || ::fstat(fd->get(), &own) != 0) {
    batch.openError = errno;
    batch.listed.store(true, std::memory_order_release);
    return nullptr;
  }
  batch.dev = own.st_dev;
  batch.ino = own.st_ino;
  // Another file system begins here: one of the kernel's own is never entered.
  if (own.st_dev != parentDev) {
    struct statfs info {};
    if (::fstatfs(fd->get(), &info) == 0) {
      const auto magic = static_cast<unsigned long>(info.f_type);
      batch.notEntered =
          isPseudoFileSystemMagic(magic) ||
          ((magic == TMPFS_MAGIC || magic == RAMFS_MAGIC) && isDevTmpfs(own.st_dev, rules_.mounts));
    }
    if (batch.notEntered) {
      batch.listed.store(true, std::memory_order_release);
      return nullptr;
    }
  }
  {
    Listed listed{batch};
    // The whole listing, read until the kernel answers 0 (a short answer is no end), as far
    // as the batch may hold.
    alignas(8) char chunk[kReadChunk];
    while (!stopping_ && !batch.unwanted.load(std::memory_order_relaxed)) {
      if (batch.entries >= kMaxBatchEntries) {
        batch.complete = false;
        break;
      }
      const ssize_t n = ::getdents64(fd->get(), chunk, sizeof chunk);
      readerCalls_.fetch_add(1, std::memory_order_relaxed);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        batch.listError = errno;
        break;
      }
      if (n == 0) break;
      const size_t start = batch.records.size();
      batch.records.insert(batch.records.end(), chunk, chunk + n);
      for (size_t at = start; at < batch.records.size();) {
        const DirentRecord record = readDirentRecord(batch.records.data() + at);
        at += record.length;
        if (!isDotName(record.name)) ++batch.entries;
      }
    }
    batch.prepareLooks();
    batch.fd = fd;
  }
  lookAt(batch, fd->get());
  return fd;
}

void ReadAhead::lookAt(Batch& batch, int fd) {
  // What every walk asks of a file: its size and times; of an untyped entry, what it is. From
  // the last entry back: a walk that takes the batch before the reader is done goes from the
  // first on, and the two meet instead of looking at the same entries side by side.
  // Record offset and entry index of each; the reader's own, kept from one batch to the next.
  thread_local std::vector<std::pair<size_t, uint32_t>> toLook;
  toLook.clear();
  uint32_t index = 0;
  for (size_t at = 0; at < batch.records.size();) {
    const DirentRecord record = readDirentRecord(batch.records.data() + at);
    if (!isDotName(record.name)) {
      if (record.type == DT_REG || record.type == DT_UNKNOWN) toLook.emplace_back(at, index);
      ++index;
    }
    at += record.length;
  }
  for (auto next = toLook.rbegin();
       next != toLook.rend() && !stopping_ && !batch.unwanted.load(std::memory_order_relaxed);
       ++next) {
    const auto [at, entry] = *next;
    // The walk has got this far: what lies before is its own.
    if (batch.firstIndex + entry < batch.walkAt.load(std::memory_order_relaxed)) break;
    const DirentRecord record = readDirentRecord(batch.records.data() + at);
    LookedAt& seen = batch.lookedAt[entry];
    seen.error = ::fstatat(fd, record.name, &seen.info, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    readerCalls_.fetch_add(1, std::memory_order_relaxed);
    batch.looked[entry].store(true, std::memory_order_release);
  }
}

}  // namespace nimbra
