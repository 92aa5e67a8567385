// The duplicate finder's stages on real files: prefixes read once, of regular files still as
// the walk saw them; classes split where their windows differ, each hashed once from its own
// bytes, without the files that change under the comparison, and cancellation inside a set.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

#include "ops/finders/content_file.h"
#include "ops/finders/duplicate_compare.h"
#include "support/answers.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

constexpr int64_t kMiB = 1 << 20;
constexpr int64_t kPrefix = kPrefixDigestBytes;
constexpr int64_t kWindow = kCompareWindowBytes;

void poke(const std::string& path, int64_t at) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  EXPECT_EQ(::pwrite(fd, "X", 1, at), 1);
  ::close(fd);
}

class DuplicateStages : public ::testing::Test {
 protected:
  // Copies of one patterned file, each with an X at the offsets given.
  Paths copies(
      int64_t size, const std::vector<std::pair<std::string, std::vector<int64_t>>>& files) {
    Paths paths;
    for (const auto& [name, marks] : files) {
      paths.push_back(tree.touch(name, size, 7));
      for (int64_t at : marks) poke(paths.back(), at);
    }
    return paths;
  }
  // The groups each set splits into, sorted; every digest must be the SHA-256 of each file.
  std::vector<Paths> compare(
      const std::vector<CandidateGroup>& sets,
      const std::function<bool()>& cancelled = [] { return false; }) {
    std::vector<Paths> found;
    for (const CandidateGroup& set : sets) {
      for (CandidateGroup& same : comparer.split(set, cancelled)) {
        for (const std::string& file : same.files) EXPECT_EQ(same.digest, hashFile(file)) << file;
        std::sort(same.files.begin(), same.files.end());
        found.push_back(same.files);
      }
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  TempTree tree;
  FileDigests digests;
  ContentComparer comparer{digests};
};

// The oracle of the other tests first: hashFile against SHA-256 of the bytes read here.
TEST_F(DuplicateStages, PrefixesReadOncePerFileAndOnlyOfRegularFilesStillAsTheWalkSawThem) {
  std::string big = tree.touch("big", 3 * kMiB + 123, 1);
  std::ostringstream content;
  content << std::ifstream(big, std::ios::binary).rdbuf();
  EXPECT_EQ(hashFile(big), sha256Of(content.str().data(), content.str().size()));
  for (const std::string& path : {big, tree.hardlink("big", "link")}) {
    EXPECT_EQ(digests.prefixDigest(path, 3 * kMiB + 123), sha256Of(content.str().data(), 65536));
  }
  EXPECT_EQ(digests.bytesRead(), 65536);
  // Grown since the walk: no longer the file the walk measured.
  EXPECT_FALSE(digests.prefixDigest(tree.touch("grown", 3 * kMiB + 124, 1), 3 * kMiB + 123));
  std::string fifo = tree.path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_FALSE(digests.prefixDigest(fifo, 0));  // a blocking open would wait for a writer forever
  EXPECT_FALSE(digests.prefixDigest(tree.symlink(big, "symlink"), 3 * kMiB + 123));
}

// The loner comes first: fed before the split decision, its last byte would spoil the digest
// of the class it leaves. Hard links are one file read once, but two paths. Cancelled, a set
// answers the classes finished before.
TEST_F(DuplicateStages, ClassesSplitWhereTheyDifferEachHashedOnceFromItsOwnBytes) {
  // Three windows after the prefix, the last one short.
  const int64_t size = kPrefix + 2 * kWindow + 100;
  const int64_t rest = size - kPrefix;
  Paths files = copies(size, {{"loner", {size - 1}}, {"b1", {kPrefix + 10}}, {"a1", {}},
                                 {"b2", {kPrefix + 10}}, {"a2", {}}, {"c", {kPrefix + 20}}});
  files.push_back(tree.hardlink("a1", "a1-link"));
  files.push_back(tree.hardlink("c", "c-link"));
  std::vector<CandidateGroup> sets = splitByPrefixDigest({size, {}, files}, digests);

  EXPECT_EQ(compare(sets),
      (std::vector<Paths>{{tree.path("a1"), tree.path("a1-link"), tree.path("a2")},
          {tree.path("b1"), tree.path("b2")}, {tree.path("c"), tree.path("c-link")}}));
  EXPECT_EQ(comparer.counts().digests, 3);
  EXPECT_EQ(comparer.counts().bytesHashed, 3 * rest);
  EXPECT_EQ(comparer.counts().bytesRead, 6 * rest);  // the loner to its last window, links once

  int windows = 0;  // the first window splits the set, the next two finish one class
  EXPECT_EQ(compare(sets, [&] { return ++windows > 3; }).size(), 1u);
  EXPECT_TRUE(compare(sets, [] { return true; }).empty());
  EXPECT_EQ(comparer.counts().digests, 4);
}

// Sparse files: 40 MiB parting in a middle window; then 20 classes of 15 in one set, more than
// the windows held at once and more members than the descriptors held open.
TEST_F(DuplicateStages, ClassesPartingInAMiddleWindowAndManyClassesInOneSet) {
  Paths files;
  for (const char* name : {"s1", "s2", "s3", "s4"})
    files.push_back(tree.sparseFile(name, 40 * kMiB));
  for (int i : {2, 3}) poke(files[i], 20 * kMiB + 5);
  EXPECT_EQ(compare(splitByPrefixDigest({40 * kMiB, {}, files}, digests)),
      (std::vector<Paths>{{files[0], files[1]}, {files[2], files[3]}}));
  const int64_t shared = (20 * kMiB + 5 - kPrefix) / kWindow * kWindow;  // the windows before
  EXPECT_EQ(comparer.counts().bytesHashed, shared + 2 * (40 * kMiB - kPrefix - shared));

  files.clear();
  for (int i = 0; i < 300; ++i) {
    files.push_back(tree.sparseFile("f" + std::to_string(i), kPrefix + 4096));
    poke(files.back(), kPrefix + i % 20);
  }
  std::vector<Paths> found = compare(splitByPrefixDigest({kPrefix + 4096, {}, files}, digests));
  EXPECT_EQ(found.size(), 20u);
  EXPECT_TRUE(std::all_of(
      found.begin(), found.end(), [](const Paths& group) { return group.size() == 15; }));
}

// The first member is the one changed late: its windows were hashed, but they were the bytes
// the others were compared with, so the others' group stands without it.
TEST_F(DuplicateStages, FilesChangedSinceThePrefixOrDuringTheComparisonLeaveTheirClass) {
  const int64_t size = kPrefix + 3 * kWindow;
  Paths files =
      copies(size, {{"changedLate", {}}, {"kept1", {}}, {"shrunkBefore", {}}, {"shrunkDuring", {}},
                       {"kept2", {}}, {"pair1", {size - 1}}, {"pair2", {size - 1}}});
  std::vector<CandidateGroup> sets = splitByPrefixDigest({size, {}, files}, digests);
  ASSERT_EQ(::truncate(files[2].c_str(), kPrefix + kWindow), 0);
  ASSERT_EQ(::truncate(files[6].c_str(), kPrefix + kWindow), 0);  // its twin is left alone
  int windows = 0;
  auto changeDuring = [&] {
    if (++windows == 2) {
      EXPECT_EQ(::truncate(files[3].c_str(), kPrefix + kWindow + kWindow / 2), 0);
      ::usleep(10000);               // a later change time, even with a coarse clock
      poke(files[0], kPrefix + 10);  // a window already compared
    }
    return false;
  };
  EXPECT_EQ(compare(sets, changeDuring), (std::vector<Paths>{{files[1], files[4]}}));
}

}  // namespace
}  // namespace nimbra::test
