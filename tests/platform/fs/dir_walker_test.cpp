#include "platform/fs/dir_walker.h"
#include "platform/fs/file_removal.h"
#include "platform/fs/read_ahead.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/ioprio.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_tree.h"
#include "support/unprivileged.h"

namespace nimbra {
namespace {

using namespace ::testing;
using test::TempTree;
namespace fs = std::filesystem;

// Every entry as "path-below-root depth type size", in walk order; type is f, d, l or o.
// `prune` sees each entry before its size is read.
std::vector<std::string> walkAll(const std::string& root, WalkOptions options = {},
    const std::function<bool(const WalkEntry&)>& prune = nullptr) {
  std::vector<std::string> seen;
  DirWalker walker(root, options);
  while (const WalkEntry* e = walker.next()) {
    if (prune && prune(*e)) walker.skipDescendants();
    seen.push_back(e->path().substr(root.size() + (root.ends_with('/') ? 0 : 1)) + " " +
                   std::to_string(e->depth()) + " " + "fdlo"[static_cast<int>(e->type())] +
                   std::to_string(e->size()));
  }
  return seen;
}

int openDescriptors() {
  return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

TEST(DirWalker,
    WalksEveryEntryWithDepthTypeAndSizeSkipsPackageContentsWhenToldAndSurvivesVanishing) {
  TempTree tree;
  tree.touch("a/b/c", 300);
  tree.touch("a/f", 20);
  tree.makeDir("a/empty");
  tree.sparseFile("a/sparse", int64_t{5} << 30);
  const std::string top = tree.touch("top", 7);
  tree.touch(".h/f", 1);
  tree.touch("Tool.App/Contents/t", 2);
  tree.symlink(tree.path("a"), "link");

  // Given with a trailing slash, which must not be doubled in the entries' paths.
  const auto seen = walkAll(tree.root() + "/");
  EXPECT_THAT(
      seen, UnorderedElementsAre("a 1 d0", "a/b 2 d0", "a/b/c 3 f300", "a/f 2 f20", "a/empty 2 d0",
                "a/sparse 2 f5368709120", "top 1 f7", ".h 1 d0", ".h/f 2 f1", "Tool.App 1 d0",
                "Tool.App/Contents 2 d0", "Tool.App/Contents/t 3 f2", "link 1 l0"));
  // A package is known whatever the case of its suffix.
  const auto withoutPackageContents = walkAll(tree.root(), {.skipPackageContents = true});
  EXPECT_EQ(withoutPackageContents.size(), seen.size() - 2);
  EXPECT_THAT(withoutPackageContents, Each(Not(StartsWith("Tool.App/"))));

  // A root holding a NUL byte names no file: the kernel would read it as "a".
  for (const std::string& root : {tree.path("link"), tree.path("link//"), tree.path("missing"), top,
           std::string(), tree.path("a") + std::string(1, '\0')}) {
    EXPECT_TRUE(!DirWalker(root).ok() && !DirWalker(root).next()) << root;
  }

  // Vanishing entries and listings longer than one read lose nothing else.
  const std::string padding(200, 'n');  // 400 long names take several getdents64 reads
  for (int i = 0; i < 400; ++i) tree.touch("vanishing/big/" + padding + std::to_string(i), 1);
  for (int i = 0; i < 20; ++i) tree.touch("vanishing/v/d" + std::to_string(i) + "/file", 10);
  tree.touch("vanishing/v/gone.bin", 10);
  // Folders vanish after being returned and before being entered, a file before its size is
  // read. (Read ahead, a folder would be seen as it was when read.)
  const auto vanishing = walkAll(tree.path("vanishing"), {.threads = 1}, [](const WalkEntry& e) {
    if (e.depth() == 2 && e.path().find("/v/") != std::string::npos) fs::remove_all(e.path());
    return false;
  });
  EXPECT_EQ(vanishing.size(), 1 + 400 + 1 + 20 + 1u);  // big, its files, v, its folders, gone.bin
  EXPECT_EQ(
      std::ranges::count_if(vanishing, [](const auto& s) { return s.ends_with(" f1"); }), 400);
  EXPECT_THAT(vanishing, Contains("v/gone.bin 2 f0"));
}

TEST(DeepChain, IsWalkedAndEmptiedWithFewDescriptors) {
  constexpr int kDepth = 5000;
  TempTree tree;
  // Made in memory where it can be: 5,000 directories on disk take seconds.
  char shm[] = "/dev/shm/nimbra-deep-XXXXXX";
  const std::string root = ::mkdtemp(shm) ? std::string(shm) : tree.makeDir("deep");
  // A chain of folders "d", far beyond PATH_MAX, so built through descriptors. Every 100th
  // level also holds "early" (made before "d") and "late" (after it): files that may be met
  // on the way back up, after the walker or the sweep had to close that folder's descriptor.
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; level < kDepth; ++level) {
    if (level % 100 == 0) ::close(::openat(fd, "early", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    EXPECT_EQ(::mkdirat(fd, "d", 0755), 0);
    if (level % 100 == 0) ::close(::openat(fd, "late", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  ::close(fd);
  const int before = openDescriptors();
  int most = before, directories = 0, files = 0, deepest = 0;
  // A reader goes ahead down the chain while the walk waits at the top: the directories it
  // read are closed with the walk's own, not kept open by what the reader handed over.
  for (DirWalker walker(root, {.threads = 2}); const WalkEntry* e = walker.next();) {
    if (e->depth() == 1) ::usleep(50000);
    directories += e->isDirectory();
    files += e->isRegular();
    deepest = std::max(deepest, e->depth());
    if (e->depth() % 500 == 0 && e->isDirectory()) most = std::max(most, openDescriptors());
  }
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_EQ(directories, kDepth);
  EXPECT_EQ(deepest, kDepth);
  EXPECT_EQ(files, 2 * kDepth / 100);
  EXPECT_LT(most - before, 64);
  // Removal goes as deep, closing outer folders and finding them again on the way back.
  most = before;
  emptyDirectory(root, [&] {
    most = std::max(most, openDescriptors());
    return false;
  });
  EXPECT_TRUE(fs::is_empty(root));
  EXPECT_LT(most - before, 70);
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);  // whatever the sweep left behind
}

TEST(DirWalker, KernelFileSystemsAreNeverEntered) {
  // The machine's own /proc and /sys, met as children of "/" and asked about directly.
  auto allButKernel = [](const WalkEntry& e) { return e.name() != "proc" && e.name() != "sys"; };
  EXPECT_THAT(walkAll("/", {}, allButKernel), Each(Not(HasSubstr("/"))));

  // Known by what they are, not where: proc and a (real, walked) tmpfs mounted deep inside a
  // tree, in a child with a mount namespace of its own so the mounts vanish with it.
  TempTree tree;
  tree.touch("data/file", 5);
  const std::string procfs = tree.makeDir("data/nested/procfs");
  const std::string memory = tree.makeDir("data/nested/memory");
  NIMBRA_SKIP_UNLESS_ROOT("private mounts");
  const std::string report = test::runInPrivateMountNamespace([&]() -> std::string {
    if (::mount("proc", procfs.c_str(), "proc", 0, nullptr) ||
        ::mount("tmpfs", memory.c_str(), "tmpfs", 0, nullptr)) {
      return "cannot mount";
    }
    ::close(::creat((memory + "/kept").c_str(), 0644));
    auto seen = walkAll(tree.path("data"));
    std::sort(seen.begin(), seen.end());
    return PrintToString(seen);
  });
  EXPECT_EQ(report, PrintToString(std::vector<std::string>{"file 1 f5", "nested 1 d0",
                        "nested/memory 2 d0", "nested/memory/kept 3 f0", "nested/procfs 2 d0"}));
}

// Read ahead on several threads, every walk is the walk of one thread: the same entries in the
// same order with the same metadata, the same folders said unreadable, the same pruning, on a
// tree of links, a FIFO, hidden folders and packages, folders too long for one batch, a chain
// 10,000 deep, mounts (a kernel one that is never entered, a tmpfs and a bind mount that are),
// and, for an ordinary user, folders that cannot be read or searched.
TEST(ReadAhead, EveryWalkIsTheWalkOfOneThread) {
  NIMBRA_SKIP_UNLESS_ROOT("private mounts and an ordinary user's walk");
  TempTree tree;
  const std::string root = tree.makeDir("r");
  tree.giveToNobody();
  // Each walk as "path depth type size", and what it could not read.
  const auto walked = [&](size_t threads, bool finder) {
    WalkOptions options{.threads = threads};
    if (finder) {
      options.skipHidden = options.skipPackageContents = true;
      options.prunes = [](std::string_view name, int depth) {
        return name == "node_modules" || depth > 9000;
      };
    }
    DirWalker walker(root, options);
    std::vector<std::string> seen;
    while (const WalkEntry* e = walker.next()) {
      seen.push_back(e->path().substr(root.size()) + " " + std::to_string(e->depth()) + " " +
                     "fdlo"[static_cast<int>(e->type())] + std::to_string(e->size()));
      // A slow walk at the top lets the readers get ahead, so that their batches are used.
      if (threads > 1 && e->depth() == 1) ::usleep(2000);
    }
    for (const UnreadableFolder& folder : walker.unreadable().first)
      seen.push_back("unreadable " + folder.path + ": " + std::to_string(folder.error));
    seen.push_back("unreadable " + std::to_string(walker.unreadable().count));
    return seen;
  };
  // On one core beside a busy thread, where the readers hardly run: the walk stops offering
  // to them, and offers again later.
  const auto starved = [&](bool finder) {
    cpu_set_t was, one;
    ::sched_getaffinity(0, sizeof was, &was);
    CPU_ZERO(&one);
    CPU_SET(::sched_getcpu(), &one);
    ::sched_setaffinity(0, sizeof one, &one);  // the readers are started on it too
    std::atomic<bool> stop{false};
    std::thread busy([&stop] {
      while (!stop.load(std::memory_order_relaxed)) {
      }
    });
    auto seen = walked(2, finder);
    stop = true;
    busy.join();
    ::sched_setaffinity(0, sizeof was, &was);
    return seen;
  };
  const auto compare = [&]() -> std::string {
    for (const bool finder : {false, true}) {
      const auto alone = walked(1, finder);
      if (alone.size() < 10000) return "too short a walk: " + std::to_string(alone.size());
      for (const size_t threads : {2, 4}) {
        if (walked(threads, finder) != alone) {
          return "walks differ on " + std::to_string(threads) + " threads" +
                 (finder ? " as the finders walk" : "");
        }
      }
      if (starved(finder) != alone) return "walks differ with the readers starved";
    }
    return "";
  };
  // The tree is made in memory, in a mount namespace of its own, and goes with it.
  EXPECT_EQ(test::runInPrivateMountNamespace([&]() -> std::string {
    if (::mount("tmpfs", root.c_str(), "tmpfs", 0, nullptr)) return "cannot mount";
    for (int i = 0; i < 30; ++i) {
      tree.touch("r/d" + std::to_string(i) + "/f", i);
      tree.touch("r/d" + std::to_string(i) + "/sub/g", 2 * i);
    }
    for (int i = 0; i < 5000; ++i) tree.touch("r/wide/" + std::to_string(i), i % 97);
    for (int i = 0; i < 40; ++i) tree.touch("r/wide/dir" + std::to_string(i) + "/x", 3);
    for (int i = 0; i < 1500; ++i) tree.touch("r/many/" + std::to_string(i) + "/x", i % 7);
    // Deeper than the walk keeps directories open: on the way back up it enters folders of the
    // directories it closed on the way down.
    for (std::string fork = "r/fork"; fork.size() < 100; fork += "/a") tree.touch(fork + "/b/y", 1);
    tree.touch("r/.hidden/h", 4);
    tree.touch("r/Tool.app/Contents/t", 5);
    tree.touch("r/node_modules/m/big", 6);
    tree.symlink(tree.path("r/d1"), "r/link-to-folder");
    tree.symlink("nowhere", "r/dangling");
    tree.touch("r/locked/inside/x", 7);
    tree.touch("r/listed-only/y", 8);
    tree.touch("elsewhere/z", 9);
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < 10000; ++level) {
      if (level % 1000 == 0) ::close(::openat(fd, "f", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
      ::mkdirat(fd, "c", 0755);
      const int next = ::openat(fd, "c", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ::close(fd);
      fd = next;
    }
    ::close(fd);
    for (const char* mountPoint : {"r/proc", "r/memory", "r/bound"}) tree.makeDir(mountPoint);
    if (std::system(("chown -R nobody: '" + tree.root() + "'").c_str()) != 0 ||
        ::mkfifo(tree.path("r/fifo").c_str(), 0600) ||
        ::mount("proc", tree.path("r/proc").c_str(), "proc", 0, nullptr) ||
        ::mount("tmpfs", tree.path("r/memory").c_str(), "tmpfs", 0, nullptr)) {
      return "cannot make the tree";
    }
    ::close(::creat(tree.path("r/memory/kept").c_str(), 0644));
    if (std::string failed = test::bindMount(tree.path("elsewhere"), tree.path("r/bound"));
        !failed.empty()) {
      return failed;
    }
    if (std::string asRoot = compare(); !asRoot.empty()) return asRoot;
    if (::chmod(tree.path("r/locked").c_str(), 0) ||
        ::chmod(tree.path("r/listed-only").c_str(), 0444)) {
      return "cannot lock";
    }
    return test::runUnprivileged(compare);
  }),
      "");
}

// Offering to readers that keep up with less than an eighth of what the walk reads itself, while
// the walk never blocks, stops for a stretch, twice as long after each such stretch, and starts
// again; a stretch in which they kept up, were ahead (the walk taking what they read), or the
// walk blocked (on the disk) brings the pause back to one stretch.
PacingTimes walkClock;
TEST(ReadAhead, OfferingPausesWhileReadersFallBehindABusyWalk) {
  ReadAheadPacing pacing([] { return walkClock; });
  uint64_t walkCalls = 0, readerCalls = 0;
  std::string offered;
  struct Stretch {
    uint64_t walk, readers;  // calls made in it
    double runnable;         // the walk's share of it
  };
  for (const Stretch& stretch :
      std::initializer_list<Stretch>{{2000, 0, 1}, {2000, 0, 1}, {2000, 249, 0.9}, {2000, 0, 1},
          {2000, 0, 1}, {1000, 900, 1}, {2000, 10, 1}, {2000, 0, 1}, {10, 0, 1}, {2000, 0, 0.3}}) {
    for (uint32_t i = 0; i < ReadAheadPacing::kStretch; ++i) {
      if (i == 1) {
        walkCalls += stretch.walk, readerCalls += stretch.readers;
        walkClock = {walkClock.runnable + stretch.runnable, walkClock.elapsed + 1};
      }
      pacing.entered(walkCalls, readerCalls);
    }
    offered += pacing.offering() ? 'o' : '-';
  }
  EXPECT_EQ(offered, "-o--oo-ooo");
}

// The readers give way to every other program for the processor, never for the disk: a
// lowered priority would lower their disk requests' too, and an idle one's wait at the back of
// the disk's queue for seconds (ten on this machine's scheduler), while the walk waits for the
// very blocks a reader asked for. A folder of files alone starts them: they help look at its
// files.
TEST(ReadAhead, ReadersYieldTheProcessorButNotTheDisk) {
  TempTree tree;
  for (int i = 0; i < 300; ++i) tree.touch("f" + std::to_string(i), 1);
  DirWalker walker(tree.root(), {.threads = 3});
  ASSERT_NE(walker.next(), nullptr);
  // The readers' disk priorities, once both have lowered their processor priority.
  std::vector<long> readerPriorities;
  for (int tries = 0; tries < 1000 && readerPriorities.size() < 2; ++tries, ::usleep(1000)) {
    readerPriorities.clear();
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
      const pid_t tid = std::stoi(task.path().filename());
      if (errno = 0; ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid)) == 19 && errno == 0)
        readerPriorities.push_back(::syscall(SYS_ioprio_get, IOPRIO_WHO_PROCESS, tid));
    }
  }
  ASSERT_THAT(readerPriorities, SizeIs(2));
  for (const long priority : readerPriorities)
    EXPECT_EQ(IOPRIO_PRIO_CLASS(priority), IOPRIO_CLASS_BE);
}

}  // namespace
}  // namespace nimbra
