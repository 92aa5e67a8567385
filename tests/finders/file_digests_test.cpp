// File content digests: hashFile against SHA-256 of the bytes, files that are not (or no longer)
// what the walk saw, and the duplicate stages reading each byte at most once.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "finders/content_file.h"
#include "finders/duplicate_stages.h"
#include "finders/file_digests.h"
#include "support/temp_tree.h"
#include "support/unprivileged.h"

namespace nimbra::test {
namespace {

using Paths = std::vector<std::string>;

std::string contentOf(const std::string& path) {
  std::ostringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

Candidate candidate(const std::string& path) {
  return Candidate{path, static_cast<int64_t>(std::filesystem::file_size(path))};
}

TEST(HashFileTest, WholeFilesAndTheirFirst64KiBAroundPiecesAndMappedRanges) {
  TempTree tree;
  for (int64_t size : {0, 65535, 65537, (5 << 20) + 123}) {
    SCOPED_TRACE(size);
    std::string path = tree.touch(std::to_string(size), size, static_cast<uint32_t>(size));
    std::string content = contentOf(path);
    EXPECT_EQ(hashFile(path), sha256Of(content.data(), content.size()));
    EXPECT_EQ(hashFile(path, 65536), sha256Of(content.data(), std::min<size_t>(content.size(), 65536)));
  }
}

TEST(HashFileTest, OnlyRegularFilesAnswerNothingBlocksAndAShrunkMappingIsNotFatal) {
  TempTree tree;
  std::string target = tree.touch("target", 100, 1);
  std::string fifo = tree.path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_FALSE(hashFile(fifo));  // a blocking open would wait for a writer forever
  EXPECT_FALSE(hashFile(tree.makeDir("folder")));
  EXPECT_FALSE(hashFile(tree.symlink(target, "link")));
  EXPECT_FALSE(hashFile(tree.path("missing")));

  std::string path = tree.touch("shrinks", 8 << 20, 5);
  std::optional<ContentFile> file = ContentFile::open(path);  // fstat sees 8 MiB
  ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
  Sha256 hasher;
  EXPECT_FALSE(file->feed(hasher, 0, std::nullopt));
  EXPECT_TRUE(hashFile(tree.touch("next", 2 << 20, 6)));  // the guard was only for that window
}

TEST(FileDigestsTest, EveryByteIsReadOnceAcrossStagesAndHardLinks) {
  TempTree tree;
  FileDigests digests;
  Candidate big = candidate(tree.touch("big", (3 << 20) + 11, 1));
  Candidate link = candidate(tree.hardlink("big", "link"));
  Candidate small = candidate(tree.touch("small", 65536, 2));
  for (const Candidate* c : {&big, &link, &small}) EXPECT_EQ(digests.prefixDigest(*c), hashFile(c->path, 65536));
  EXPECT_EQ(digests.bytesRead(), 2 * 65536);
  for (const Candidate* c : {&big, &link, &small}) EXPECT_EQ(digests.fullDigest(*c), hashFile(c->path));
  EXPECT_EQ(digests.bytesRead(), big.size + small.size);
}

TEST(FileDigestsTest, UnreadableTwinIsLeftOutAndAChangedFileIsReadAfresh) {
  TempTree tree;
  std::string kept = tree.touch("kept", 3000, 9);
  std::string twin = tree.touch("twin", 3000, 9);
  tree.giveToNobody();
  ASSERT_EQ(::chmod(twin.c_str(), 0), 0);
  EXPECT_EQ(runUnprivileged([&]() -> std::string {  // no threads: it runs in a forked child
              FileDigests digests;
              SizeBucket bucket{{kept, 3000}, {twin, 3000}};
              return splitByPrefixDigest(bucket, digests).empty() ? "" : "the unreadable twin was hashed";
            }),
            "");

  FileDigests digests;
  Candidate rewritten = candidate(tree.touch("rewritten", 200000, 4));
  Candidate removed = candidate(tree.touch("removed", 200000, 5));
  ASSERT_TRUE(digests.prefixDigest(rewritten) && digests.prefixDigest(removed));
  ::usleep(10000);  // a later change time, even with a coarse clock
  tree.touch("rewritten", 200000, 6);
  ASSERT_EQ(::unlink(removed.path.c_str()), 0);
  EXPECT_EQ(digests.fullDigest(rewritten), hashFile(rewritten.path));
  EXPECT_FALSE(digests.fullDigest(removed));
}

// Cancellation is polled before each file of a full-digest set: the files hashed until then
// still form their groups.
TEST(DuplicateStagesTest, FullStageStopsAtCancellationWithWhatItHashed) {
  TempTree tree;
  SizeBucket bucket;
  for (const char* name : {"a1", "b2", "c1", "d2", "e1"}) bucket.push_back(candidate(tree.write(name, name + 1)));
  CandidateSet set;
  for (const Candidate& c : bucket) set.push_back(&c);
  FileDigests digests;
  int checks = 0;
  std::vector<DigestSet> same = splitByFullDigest(set, digests, [&] { return ++checks > 4; });
  EXPECT_EQ(digests.bytesRead(), 4);  // the fifth file is never read
  ASSERT_EQ(same.size(), 2u);
  EXPECT_EQ(same[0].digest, sha256Of("1", 1));
  EXPECT_EQ(same[0].files, (CandidateSet{&bucket[0], &bucket[2]}));
  EXPECT_EQ(same[1].files, (CandidateSet{&bucket[1], &bucket[3]}));
}

}  // namespace
}  // namespace nimbra::test
