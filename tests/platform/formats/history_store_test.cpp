// The disk usage history's file on real folders: what it keeps and how it keeps it private,
// a process killed in the middle of a snapshot, files that are no database or a damaged one,
// a full disk, and the snapshot tree read back from bytes that may be anything.

#include "platform/formats/history_store.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/fd_io.h"
#include "platform/formats/snapshot_tree.h"
#include "support/temp_tree.h"
#include "support/unprivileged.h"

namespace nimbra::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

SnapshotSummary summaryOf(const std::string& root, int64_t size) {
  return {.root = root, .takenAt = 1'800'000'000 + size, .size = size, .files = 1, .folders = 1};
}

std::vector<int64_t> idsOf(HistoryStore& store, const std::optional<std::string>& root) {
  std::vector<int64_t> ids;
  for (const SnapshotSummary& s : store.snapshots(root).value_or(std::vector<SnapshotSummary>{}))
    ids.push_back(s.id);
  return ids;
}

mode_t modeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(HistoryStore, KeepsThirtySnapshotsAFolderInAPrivateFileNeverThroughALink) {
  TempTree tree;
  const std::string path = tree.path("state/nimbra/history.sqlite3");
  EXPECT_FALSE(HistoryStore::open(path, false).store) << "reading makes nothing";
  EXPECT_FALSE(std::filesystem::exists(tree.path("state/nimbra")));
  ::umask(0);
  HistoryOpening opening = HistoryStore::open(path, true);
  ::umask(022);
  ASSERT_TRUE(opening.store) << opening.error;
  HistoryStore& store = *opening.store;
  EXPECT_EQ(modeOf(tree.path("state")), 0700u);
  EXPECT_EQ(modeOf(tree.path("state/nimbra")), 0700u);
  EXPECT_EQ(modeOf(path), 0600u);

  SnapshotTreeWriter folders;
  folders.add(1, "bad-\xfe", 5, 1, true);
  folders.add(0, "", 7, 2, false);
  for (int64_t i = 1; i <= 31; ++i)
    ASSERT_TRUE(store.add(summaryOf("/a", i), i == 31 ? folders.bytes() : "x"))
        << store.lastError();
  ASSERT_TRUE(store.add(summaryOf("/b", 99), "y"));
  // The oldest of /a went; ids are never taken again.
  std::vector<int64_t> kept = idsOf(store, "/a");
  ASSERT_EQ(kept.size(), 30u);
  EXPECT_EQ(kept.front(), 31);
  EXPECT_EQ(kept.back(), 2);
  EXPECT_EQ(store.snapshot(31)->size, 31);
  EXPECT_EQ(store.snapshot(31)->takenAt, 1'800'000'031);
  const std::optional<std::string> bytes = store.tree(31);
  ASSERT_TRUE(bytes);
  const auto read = readSnapshotTree(*bytes);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->front().name, "bad-\xfe");
  EXPECT_TRUE(read->front().unreadable);
  EXPECT_EQ(read->back().files, 2);
  EXPECT_FALSE(store.snapshot(1));
  EXPECT_EQ(store.forget("/a"), 30);
  EXPECT_EQ(store.add(summaryOf("/a", 1), "z"), 33);
  EXPECT_EQ(idsOf(store, std::nullopt), (std::vector<int64_t>{33, 32}));
  // What is forgotten leaves the file once the last connection ends.
  for (int64_t i = 1; i <= 3; ++i) store.add(summaryOf("/c", i), std::string(200000, 'c'));
  opening.store.reset();
  const auto full = std::filesystem::file_size(path);
  EXPECT_EQ(HistoryStore::open(path, false).store->forget("/c"), 3);
  EXPECT_LT(std::filesystem::file_size(path) + 550000, full);

  // A link where the file or its folder should be is never followed; a FIFO is left alone.
  tree.write("elsewhere/file", "theirs");
  const std::string linked = tree.symlink(tree.path("elsewhere/file"), "linked/history.sqlite3");
  EXPECT_THAT(HistoryStore::open(linked, true).error, HasSubstr("is a link"));
  tree.symlink(tree.path("elsewhere"), "state/folder-link");
  EXPECT_THAT(HistoryStore::open(tree.path("state/folder-link/h.sqlite3"), true).error,
      HasSubstr("is a link"));
  EXPECT_EQ(contentOf(tree.path("elsewhere/file")), "theirs");
  EXPECT_FALSE(std::filesystem::exists(tree.path("elsewhere/h.sqlite3")));
  tree.makeDir("fifo");
  ::chmod(tree.path("fifo").c_str(), 0700);
  ASSERT_EQ(::mkfifo(tree.path("fifo/history.sqlite3").c_str(), 0600), 0);
  EXPECT_THAT(HistoryStore::open(tree.path("fifo/history.sqlite3"), true).error,
      HasSubstr("not a regular file"));
  struct stat fifo {};
  EXPECT_EQ(::lstat(tree.path("fifo/history.sqlite3").c_str(), &fifo), 0);
  EXPECT_TRUE(S_ISFIFO(fifo.st_mode));
}

// The process is killed after the snapshot went in and before its transaction ended: the file
// is whole, holds the earlier snapshots and nothing of the new one.
TEST(HistoryStore, AProcessKilledInTheMiddleOfASnapshotLeavesTheEarlierOnesAndNoPart) {
  TempTree tree;
  const std::string path = tree.path("nimbra/history.sqlite3");
  ASSERT_TRUE(HistoryStore::open(path, true).store->add(summaryOf("/a", 1), "first"));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    HistoryOpening opening = HistoryStore::open(path, true);
    // Large enough to go to the log before the commit.
    const std::string tree(8 << 20, 'x');
    opening.store->add(summaryOf("/a", 2), tree, [&] {
      (void)writeAll(ready[1], "in");
      for (;;) ::pause();
    });
    ::_exit(1);
  }
  char said[2];
  ASSERT_EQ(::read(ready[0], said, 2), 2);
  ASSERT_EQ(::kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_GT(std::filesystem::file_size(path + "-wal"), 1u << 20) << "a part was written";

  HistoryOpening after = HistoryStore::open(path, true);
  ASSERT_TRUE(after.store) << after.error;
  EXPECT_FALSE(after.movedAside);
  EXPECT_EQ(idsOf(*after.store, "/a"), std::vector<int64_t>{1});
  EXPECT_TRUE(after.store->tree(1) == "first");
  EXPECT_EQ(after.store->add(summaryOf("/a", 3), "third"), 2) << "the id that never was";
}

// What is no database, or a damaged one, is moved aside (once, with SQLite's words) and a new
// one started; a file of a newer schema is left as it is.
TEST(HistoryStore, ABrokenFileIsMovedAsideOnceAndANewerOneIsLeftAlone) {
  TempTree tree;
  const std::string path = tree.path("nimbra/history.sqlite3");
  {
    HistoryStore store = std::move(*HistoryStore::open(path, true).store);
    for (int64_t i = 1; i <= 3; ++i) store.add(summaryOf("/a", i), std::string(20000, 'a'));
  }
  // Damage inside a page of the table: the header still says SQLite.
  std::string bytes = contentOf(path);
  ASSERT_GT(bytes.size(), 20000u);
  for (size_t at = 4096; at < 4096 + 64; ++at) bytes[at] = '\xff';
  tree.write("nimbra/history.sqlite3", bytes);
  ::chmod(path.c_str(), 0600);
  HistoryOpening damaged = HistoryStore::open(path, true);
  ASSERT_TRUE(damaged.store) << damaged.error;
  ASSERT_TRUE(damaged.movedAside);
  EXPECT_THAT(damaged.movedAside->path, StartsWith(path + ".broken-"));
  EXPECT_FALSE(damaged.movedAside->reason.empty());
  EXPECT_TRUE(contentOf(damaged.movedAside->path) == bytes) << "kept as it was";
  EXPECT_EQ(idsOf(*damaged.store, "/a"), std::vector<int64_t>{});
  EXPECT_TRUE(damaged.store->add(summaryOf("/a", 1), "new"));
  EXPECT_FALSE(HistoryStore::open(path, true).movedAside) << "said once";
  damaged.store.reset();  // its log would stand in for the file written next

  tree.write("nimbra/history.sqlite3", std::string(8192, 't'));
  HistoryOpening text = HistoryStore::open(path, false);
  EXPECT_FALSE(text.store) << "reading starts nothing new";
  ASSERT_TRUE(text.movedAside);
  EXPECT_THAT(text.movedAside->reason, HasSubstr("not a database"));
  EXPECT_NE(text.movedAside->path, damaged.movedAside->path);

  ASSERT_TRUE(HistoryStore::open(path, true).store);
  ASSERT_EQ(SqliteDatabase(path).execute("PRAGMA user_version = 9"), 0);
  HistoryOpening newer = HistoryStore::open(path, true);
  EXPECT_FALSE(newer.store);
  EXPECT_FALSE(newer.movedAside);
  EXPECT_THAT(newer.error, HasSubstr("newer"));
}

// Runs as root in a private mount namespace: a tmpfs of 512 KiB fills up.
TEST(HistoryStore, AFullDiskFailsTheSnapshotAndKeepsTheFileWhole) {
  NIMBRA_SKIP_UNLESS_ROOT("mounts a small tmpfs");
  TempTree tree;
  const std::string folder = tree.makeDir("small");
  EXPECT_EQ(runInPrivateMountNamespace([&]() -> std::string {
    if (::mount("nimbra-full", folder.c_str(), "tmpfs", 0, "size=512k") != 0)
      return "cannot mount a tmpfs";
    const std::string path = folder + "/nimbra/history.sqlite3";
    HistoryStore store = std::move(*HistoryStore::open(path, true).store);
    if (!store.add(summaryOf("/a", 1), std::string(100000, 'a'))) return "the first did not fit";
    if (store.add(summaryOf("/a", 2), std::string(600000, 'b'))) return "more than the disk held";
    if (store.lastError().find("full") == std::string::npos) return "said: " + store.lastError();
    HistoryOpening again = HistoryStore::open(path, true);
    if (!again.store || again.movedAside) return "not whole after: " + again.error;
    const std::vector<int64_t> ids = idsOf(*again.store, "/a");
    if (ids != std::vector<int64_t>{1}) return "snapshots after: " + std::to_string(ids.size());
    if (again.store->tree(1) != std::string(100000, 'a')) return "the first changed";
    return "";
  }),
      "");
}

TEST(SnapshotTree, ReadsWhatWasWrittenAndNothingFromBytesThatAreNoTree) {
  SnapshotTreeWriter writer;
  writer.add(2, "c", 3, 1, false);
  writer.add(1, "b", 3, 1, false);
  writer.add(1, "d", int64_t{1} << 62, 0, true);
  writer.add(0, "", (int64_t{1} << 62) + 3, 1, false);
  const auto read = readSnapshotTree(writer.bytes());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->size(), 4u);
  EXPECT_EQ((*read)[0].parent, 1u);
  EXPECT_EQ((*read)[1].parent, 3u);
  EXPECT_EQ((*read)[2].parent, 3u);
  EXPECT_EQ((*read)[3].parent, SnapshotFolder::kNoParent);
  EXPECT_EQ((*read)[2].size, int64_t{1} << 62);
  EXPECT_TRUE((*read)[2].unreadable);

  const auto bytesOf = [](auto... records) {
    SnapshotTreeWriter w;
    (w.add(std::get<0>(records), std::get<1>(records), 0, 0, false), ...);
    return w.bytes();
  };
  const std::string whole = writer.bytes();
  for (const std::string& bad : {std::string(), whole.substr(0, whole.size() - 1), whole + whole,
           bytesOf(std::tuple{2, "skips"}, std::tuple{0, ""}),
           bytesOf(std::tuple{1, "a/b"}, std::tuple{0, ""}),
           bytesOf(std::tuple{1, ""}, std::tuple{0, ""}), bytesOf(std::tuple{0, "named"}),
           std::string("\x00\x00\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01", 12),
           std::string("\x00\x00\x00\x80", 4)}) {
    EXPECT_FALSE(readSnapshotTree(bad)) << testing::PrintToString(bad);
  }
}

}  // namespace
}  // namespace nimbra::test
