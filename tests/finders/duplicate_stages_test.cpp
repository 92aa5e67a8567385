// The narrowing stages of the duplicate finder with a fake digest source, and the real source's
// promise to read each byte at most once.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "finders/content_file.h"
#include "finders/duplicate_stages.h"
#include "finders/file_digests.h"
#include "support/temp_tree.h"
#include "support/unprivileged.h"

namespace nimbra::test {
namespace {

using Paths = std::vector<std::string>;

// "Content" by path; a path without one cannot be read.
class FakeDigests : public DigestSource {
 public:
  std::map<std::string, std::string> content;
  Paths fullAsked;
  std::optional<Sha256Digest> prefixDigest(const Candidate& file) override { return digest(file); }
  std::optional<Sha256Digest> fullDigest(const Candidate& file) override {
    fullAsked.push_back(file.path);
    return digest(file);
  }

 private:
  std::optional<Sha256Digest> digest(const Candidate& file) {
    auto found = content.find(file.path);
    if (found == content.end()) return std::nullopt;
    return sha256Of(found->second.data(), found->second.size());
  }
};

Paths pathsOf(const CandidateSet& set) {
  Paths paths;
  for (const Candidate* c : set) paths.push_back(c->path);
  return paths;
}

TEST(DuplicateStagesTest, SizeThenPrefixKeepSharedValuesInWalkOrder) {
  std::vector<SizeBucket> buckets =
      bucketsBySize({{"a", 5}, {"b", 9}, {"c", 5}, {"lonely", 7}, {"d", 9}, {"e", 5}, {"gone", 5}});
  ASSERT_EQ(buckets.size(), 2u);
  EXPECT_EQ(buckets[0].front().path, "b");  // larger sizes first
  FakeDigests digests;
  digests.content = {{"a", "x"}, {"c", "y"}, {"e", "x"}};
  std::vector<CandidateSet> alike = splitByPrefixDigest(buckets[1], digests);
  ASSERT_EQ(alike.size(), 1u);
  EXPECT_EQ(pathsOf(alike[0]), (Paths{"a", "e"}));
}

TEST(DuplicateStagesTest, FullStageStopsAtCancellationWithWhatItHashed) {
  SizeBucket bucket{{"a", 1}, {"b", 1}, {"c", 1}, {"d", 1}, {"e", 1}};
  CandidateSet set{&bucket[0], &bucket[1], &bucket[2], &bucket[3], &bucket[4]};
  FakeDigests digests;
  digests.content = {{"a", "1"}, {"b", "2"}, {"c", "1"}, {"d", "2"}, {"e", "1"}};
  int checks = 0;
  std::vector<DigestSet> same = splitByFullDigest(set, digests, [&] { return ++checks > 4; });
  EXPECT_EQ(digests.fullAsked, (Paths{"a", "b", "c", "d"}));
  ASSERT_EQ(same.size(), 2u);
  EXPECT_EQ(same[0].digest, sha256Of("1", 1));
  EXPECT_EQ(pathsOf(same[0].files), (Paths{"a", "c"}));
  EXPECT_EQ(pathsOf(same[1].files), (Paths{"b", "d"}));
}

Candidate candidate(const std::string& path) {
  return Candidate{path, static_cast<int64_t>(std::filesystem::file_size(path))};
}

TEST(FileDigestsTest, EveryByteIsReadOnceAcrossStagesAndHardLinks) {
  TempTree tree;
  FileDigests digests;
  Candidate big = candidate(tree.touch("big", (3 << 20) + 11, 1));
  Candidate link = candidate(tree.hardlink("big", "link"));
  Candidate small = candidate(tree.touch("small", 65536, 2));
  for (const Candidate* c : {&big, &link, &small}) {
    EXPECT_EQ(digests.prefixDigest(*c), hashFile(c->path, kPrefixDigestBytes));
  }
  EXPECT_EQ(digests.bytesRead(), 2 * 65536);
  for (const Candidate* c : {&big, &link, &small}) EXPECT_EQ(digests.fullDigest(*c), hashFile(c->path));
  EXPECT_EQ(digests.bytesRead(), big.size + small.size);
}

TEST(FileDigestsTest, FileUnreadableOrChangedIsLeftOutOrReadAfresh) {
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

}  // namespace
}  // namespace nimbra::test
