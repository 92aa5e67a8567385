#include "platform/dir_walker.h"

#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/temp_tree.h"

namespace nimbra {
namespace {

using test::TempTree;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;
using ::testing::UnorderedElementsAre;

struct Seen {
  std::string path;
  int depth;
  EntryType type;
  int64_t size;
};

std::vector<Seen> walkAll(const std::string& root, WalkOptions options = {},
                          const std::function<bool(const WalkEntry&)>& prune = nullptr) {
  std::vector<Seen> seen;
  DirWalker walker(root, options);
  while (const WalkEntry* entry = walker.next()) {
    seen.push_back({entry->path(), entry->depth(), entry->type(), entry->size()});
    if (prune && prune(*entry)) walker.skipDescendants();
  }
  return seen;
}

// Paths relative to `root`, for readable expectations.
std::vector<std::string> relativePaths(const std::vector<Seen>& seen, const std::string& root) {
  std::vector<std::string> paths;
  for (const Seen& s : seen) paths.push_back(s.path.substr(root.size() + 1));
  return paths;
}

int openDescriptors() {
  int count = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// Runs `body` in a forked child with a mount namespace of its own, so that mounts made there
// vanish with the child. Answers the body's text ("" for success) or why the child failed;
// nullopt when this machine does not allow a private mount namespace.
std::optional<std::string> runWithPrivateMounts(const std::function<std::string()>& body) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "pipe failed";
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    std::string answer;
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      answer = "\x01";  // no private mounts here
    } else {
      answer = body();
    }
    (void)!::write(pipeFds[1], answer.data(), answer.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string answer;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) answer.append(buffer, n);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status)) return "child died";
  if (answer == "\x01") return std::nullopt;
  return answer;
}

TEST(DirWalker, ReturnsEveryEntryInPreOrderWithDepthTypeAndSize) {
  TempTree tree;
  tree.touch("a/b/deep.bin", 300);
  tree.touch("a/one.bin", 20);
  tree.makeDir("a/empty");
  tree.touch("top.bin", 7);
  tree.sparseFile("a/sparse.img", int64_t{5} << 30);

  auto seen = walkAll(tree.root());
  std::map<std::string, std::pair<int, int64_t>> byPath;
  for (const Seen& s : seen) byPath[s.path.substr(tree.root().size() + 1)] = {s.depth, s.size};
  EXPECT_THAT(byPath, UnorderedElementsAre(Pair("a", Pair(1, 0)), Pair("a/b", Pair(2, 0)),
                                           Pair("a/b/deep.bin", Pair(3, 300)),
                                           Pair("a/one.bin", Pair(2, 20)),
                                           Pair("a/empty", Pair(2, 0)),
                                           Pair("a/sparse.img", Pair(2, int64_t{5} << 30)),
                                           Pair("top.bin", Pair(1, 7))));
  // Pre-order: every directory comes before its contents, and its subtree is contiguous.
  auto paths = relativePaths(seen, tree.root());
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string prefix = paths[i] + "/";
    size_t j = i + 1;
    while (j < paths.size() && paths[j].starts_with(prefix)) ++j;
    for (size_t k = j; k < paths.size(); ++k) EXPECT_FALSE(paths[k].starts_with(prefix)) << paths[k];
    for (size_t k = 0; k < i; ++k) EXPECT_FALSE(paths[k].starts_with(prefix)) << paths[k];
  }
}

TEST(DirWalker, RootIsNotReturnedAndTrailingSlashIsNotDoubled) {
  TempTree tree;
  tree.touch("x/f", 1);
  auto seen = walkAll(tree.root() + "/");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].path, tree.root() + "/x");
  EXPECT_EQ(seen[1].path, tree.root() + "/x/f");
}

TEST(DirWalker, SkipDescendantsPrunesOnlyTheDirectoryJustReturned) {
  TempTree tree;
  tree.touch("keep/a", 1);
  tree.touch("prune/b", 1);
  tree.touch("prune/inner/c", 1);
  tree.touch("plain", 1);
  auto seen = walkAll(tree.root(), {}, [](const WalkEntry& e) {
    return e.name() == "prune" || e.name() == "plain";  // on a file: no effect
  });
  EXPECT_THAT(relativePaths(seen, tree.root()),
              UnorderedElementsAre("keep", "keep/a", "prune", "plain"));
}

TEST(DirWalker, SymbolicLinksAreReturnedButNeverFollowed) {
  TempTree tree;
  tree.touch("real/big", 4096);
  tree.symlink(tree.path("real"), "inside/dirlink");
  tree.symlink(tree.path("real/big"), "inside/filelink");
  tree.symlink("/nonexistent", "inside/dangling");

  auto seen = walkAll(tree.path("inside"));
  ASSERT_EQ(seen.size(), 3u);
  for (const Seen& s : seen) {
    EXPECT_EQ(s.type, EntryType::symlink) << s.path;
    EXPECT_EQ(s.size, 0) << s.path;
  }
  // A root that is itself a link is not walked, nor one that is missing or a file.
  tree.touch("file", 10);
  for (const std::string& root : {tree.path("inside/dirlink"), tree.path("inside/dirlink//"),
                                  tree.path("missing"), tree.path("file"), std::string()}) {
    DirWalker walker(root);
    EXPECT_FALSE(walker.ok()) << root;
    EXPECT_EQ(walker.next(), nullptr) << root;
  }
}

TEST(DirWalker, HiddenEntriesAndPackageContentsFollowTheOptions) {
  TempTree tree;
  tree.touch(".hidden/inside", 1);
  tree.touch(".dotfile", 1);
  tree.touch("Tool.app/Contents/MacOS/tool", 1);
  tree.touch("Notes.RTFD/TXT.rtf", 1);
  tree.touch("plain.app", 1);  // a file named like a package is just a file
  tree.touch("visible/file", 1);

  EXPECT_EQ(walkAll(tree.root()).size(), 12u);
  EXPECT_THAT(relativePaths(walkAll(tree.root(), {.skipHidden = true, .skipPackageContents = true}),
                            tree.root()),
              UnorderedElementsAre("Tool.app", "Notes.RTFD", "plain.app", "visible", "visible/file"));
  EXPECT_THAT(relativePaths(walkAll(tree.root(), {.skipHidden = true}), tree.root()),
              UnorderedElementsAre("Tool.app", "Tool.app/Contents", "Tool.app/Contents/MacOS",
                                   "Tool.app/Contents/MacOS/tool", "Notes.RTFD",
                                   "Notes.RTFD/TXT.rtf", "plain.app", "visible", "visible/file"));
}

TEST(DirWalker, ModificationTimeIsWholeSecondsTruncatedTowardZero) {
  TempTree tree;
  const std::string after = tree.touch("after", 1);
  const std::string before = tree.touch("before", 1);
  timespec late[2] = {{0, UTIME_OMIT}, {1700000000, 999999999}};
  timespec early[2] = {{0, UTIME_OMIT}, {-2, 500000000}};  // 1.5 s before 1970
  ASSERT_EQ(::utimensat(AT_FDCWD, after.c_str(), late, 0), 0);
  ASSERT_EQ(::utimensat(AT_FDCWD, before.c_str(), early, 0), 0);

  std::map<std::string, int64_t> modified;
  DirWalker walker(tree.root());
  while (const WalkEntry* entry = walker.next()) modified[std::string(entry->name())] = entry->modified();
  EXPECT_THAT(modified, UnorderedElementsAre(Pair("after", 1700000000), Pair("before", -1)));
}

TEST(DirWalker, EntriesThatVanishDuringTheWalkDoNotStopIt) {
  TempTree tree;
  for (int i = 0; i < 20; ++i) tree.touch("d" + std::to_string(i) + "/file", 10);
  tree.touch("gone.bin", 10);
  int64_t total = 0;
  int directories = 0;
  DirWalker walker(tree.root());
  while (const WalkEntry* entry = walker.next()) {
    if (entry->isDirectory() && entry->depth() == 1) {
      ++directories;
      // Removed after being returned and before being entered.
      std::filesystem::remove_all(entry->path());
    } else if (entry->name() == "gone.bin") {
      ::unlink(entry->path().c_str());
      EXPECT_EQ(entry->stat(), nullptr);
      EXPECT_EQ(entry->size(), 0);
    }
    total += entry->size();
  }
  EXPECT_EQ(directories, 20);
  EXPECT_EQ(total, 0);
}

TEST(DirWalker, LargeDirectoryArrivesWhole) {
  TempTree tree;
  // Long names so that the listing takes several reads.
  const std::string padding(200, 'n');
  for (int i = 0; i < 400; ++i) tree.touch("big/" + padding + std::to_string(i), 1);
  int64_t total = 0;
  DirWalker walker(tree.path("big"));
  while (const WalkEntry* entry = walker.next()) total += entry->size();
  EXPECT_EQ(total, 400);
}

// A chain of `depth` directories "d". Every 100th level also holds the files "early"
// (1 byte, made before "d") and "late" (2 bytes, made after it), so that files are met both
// before and after the way down, and the walker must come back to closed directories. Built
// and removed through descriptors: its paths are far longer than PATH_MAX.
int64_t buildChain(const std::string& root, int depth) {
  int64_t bytes = 0;
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  auto makeFile = [&](const char* name, int size) {
    int file = ::openat(fd, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_GE(file, 0);
    EXPECT_EQ(::ftruncate(file, size), 0);
    ::close(file);
    bytes += size;
  };
  for (int level = 0; level < depth && fd >= 0; ++level) {
    if (level % 100 == 0) makeFile("early", 1);
    EXPECT_EQ(::mkdirat(fd, "d", 0755), 0);
    if (level % 100 == 0) makeFile("late", 2);
    int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  if (fd >= 0) ::close(fd);
  return bytes;
}

void removeChain(const std::string& root) {
  // chdir keeps every step short; done in a child so the test's directory is untouched.
  pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(root.c_str()) != 0) ::_exit(1);
    int depth = 0;
    while (::chdir("d") == 0) ++depth;
    for (; depth >= 0; --depth) {
      ::unlink("early");
      ::unlink("late");
      if (depth == 0) break;
      if (::chdir("..") != 0) ::_exit(1);
      ::rmdir("d");
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
}

TEST(DirWalker, VeryDeepTreeWalksWithFewDescriptors) {
  constexpr int kDepth = 5000;
  TempTree tree;
  // Directories are made fastest in memory; the disk serves where /dev/shm is missing.
  char shm[] = "/dev/shm/nimbra-deep-XXXXXX";
  const std::string root = ::mkdtemp(shm) ? std::string(shm) : tree.root();
  const int64_t bytes = buildChain(root, kDepth);
  const int before = openDescriptors();
  int most = before;
  int64_t total = 0;
  int directories = 0;
  int deepest = 0;
  {
    DirWalker walker(root);
    while (const WalkEntry* entry = walker.next()) {
      directories += entry->isDirectory();
      total += entry->size();
      deepest = std::max(deepest, entry->depth());
      if (entry->depth() % 500 == 0 && entry->isDirectory()) most = std::max(most, openDescriptors());
    }
  }
  removeChain(root);
  if (root != tree.root()) ::rmdir(root.c_str());
  EXPECT_EQ(directories, kDepth);
  EXPECT_EQ(total, bytes);
  EXPECT_EQ(deepest, kDepth);
  EXPECT_LT(most - before, 64);
  EXPECT_EQ(openDescriptors(), before);
}

TEST(DirWalker, KernelFileSystemsAreNeverEntered) {
  // The machine's own /proc and /sys, met as children of "/".
  auto seen = walkAll("/", {}, [](const WalkEntry& e) {
    return e.depth() == 1 && e.name() != "proc" && e.name() != "sys";
  });
  for (const Seen& s : seen) EXPECT_EQ(s.depth, 1) << s.path;
  // Asked about directly.
  EXPECT_THAT(walkAll("/proc"), IsEmpty());
  EXPECT_THAT(walkAll("/proc/self"), IsEmpty());
}

TEST(DirWalker, KernelFileSystemMountedDeepInsideATreeIsNotEntered) {
  TempTree tree;
  tree.touch("data/file", 5);
  tree.makeDir("data/nested/procfs");
  tree.makeDir("data/nested/memory");
  tree.touch("data/nested/memory/spill", 1);
  const std::string root = tree.root();
  auto answer = runWithPrivateMounts([root]() -> std::string {
    if (::mount("proc", (root + "/data/nested/procfs").c_str(), "proc", 0, nullptr) != 0) {
      return "cannot mount proc";
    }
    if (::mount("tmpfs", (root + "/data/nested/memory").c_str(), "tmpfs", 0, nullptr) != 0) {
      return "cannot mount tmpfs";
    }
    int fd = ::open((root + "/data/nested/memory/kept").c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0 || ::ftruncate(fd, 3) != 0) return "cannot write to tmpfs";
    ::close(fd);
    std::vector<std::string> names;
    int64_t total = 0;
    DirWalker walker(root + "/data");
    while (const WalkEntry* entry = walker.next()) {
      names.emplace_back(entry->path().substr(root.size() + 1));
      total += entry->size();
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = {"data/file", "data/nested", "data/nested/memory",
                                         "data/nested/memory/kept", "data/nested/procfs"};
    if (names != expected) return "unexpected entries";
    if (total != 8) return "total " + std::to_string(total);
    return "";
  });
  if (!answer) GTEST_SKIP() << "this machine allows no private mount namespace";
  EXPECT_EQ(*answer, "");
}

}  // namespace
}  // namespace nimbra
