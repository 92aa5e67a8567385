// "scanDuplicates" through the channel on real trees.

#include <gtest/gtest.h>
#include <sys/time.h>

#include "finders/content_file.h"
#include "finders/finder_test_support.h"

namespace nimbra::test {
namespace {

class DuplicateScanTest : public FinderTest {
 protected:
  Outcome scan(int64_t minSize = 1) { return call("scanDuplicates", {{"root", tree.root()}, {"minSize", minSize}}); }
  static ValueMap group(const Outcome& outcome, size_t i) { return asMap(get<ValueList>(outcome.answer, "groups")[i]); }
  // The paths of each group, in the answer's order.
  static std::vector<Paths> groupPaths(const Outcome& outcome) {
    std::vector<Paths> paths;
    for (const Value& g : get<ValueList>(outcome.answer, "groups")) paths.push_back(stringsAt(get<ValueList>(asMap(g), "files"), "path"));
    return paths;
  }
  // Two files of `size` bytes that agree in everything but the byte at `differAt`.
  void nearTwins(const std::string& name, size_t size, size_t differAt) {
    std::string content(size, name[0]);
    tree.write(name + "/a", content);
    content[differAt] ^= 1;
    tree.write(name + "/b", content);
  }
};

TEST_F(DuplicateScanTest, GroupsOfIdenticalContentByWastedWithPathsInOrder) {
  const int64_t tenMiB = 10 << 20;
  for (const char* copy : {"z/copy", "a/copy", "m/copy"}) tree.touch(copy, tenMiB, 1);
  for (const char* copy : {"s/b", "s/B", "s/a"}) tree.touch(copy, 100, 2);
  std::string original = tree.touch("h/original", 65536, 3);
  tree.hardlink("h/original", "h/link");  // a hard link counts as a copy
  tree.touch("unique", tenMiB, 4);
  nearTwins("late", 200000, 65536);  // same first 64 KiB
  nearTwins("early", 200000, 0);
  nearTwins("last", 65536, 65535);
  tree.touch("empty1");
  tree.touch("empty2");
  timeval modified[2] = {{1600000000, 900000}, {1600000000, 900000}};
  ASSERT_EQ(::utimes(original.c_str(), modified), 0);

  Outcome outcome = scan();
  EXPECT_EQ(groupPaths(outcome), (std::vector<Paths>{{tree.path("a/copy"), tree.path("m/copy"), tree.path("z/copy")},
                                                    {tree.path("h/link"), original},
                                                    {tree.path("s/B"), tree.path("s/a"), tree.path("s/b")}}));
  EXPECT_EQ(get<int64_t>(group(outcome, 0), "size"), tenMiB);
  EXPECT_EQ(get<int64_t>(group(outcome, 0), "wasted"), 2 * tenMiB);
  EXPECT_EQ(get<std::string>(group(outcome, 0), "hash"), hashFile(tree.path("a/copy"))->hex());
  EXPECT_EQ(asMap(get<ValueList>(group(outcome, 1), "files")[1]),
            (ValueMap{{"path", original}, {"name", "original"}, {"size", int64_t{65536}},
                      {"modified", int64_t{1600000000}}}));
  EXPECT_EQ(get<int64_t>(outcome.answer, "wasted"), 2 * tenMiB + 65536 + 200);
  EXPECT_EQ(get<int64_t>(outcome.answer, "scanned"), 17);

  Outcome withEmpty = scan(0);  // empty files now qualify and form a group wasting nothing
  ValueMap empty = group(withEmpty, 3);
  EXPECT_EQ(get<int64_t>(empty, "size"), 0);
  EXPECT_EQ(get<int64_t>(empty, "wasted"), 0);
  EXPECT_EQ(get<std::string>(empty, "hash"), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(DuplicateScanTest, OnlyVisibleFilesOutsidePrunedFoldersAreCandidates) {
  std::string kept = tree.touch("kept", 3000, 9);
  for (const char* unseen : {"deep/Library/f", "Library/f", "p/node_modules/f", "p/.git/f", ".hidden/f", "p/.f",
                             "Some.framework/f"}) {
    tree.touch(unseen, 3000, 9);
  }
  tree.symlink(kept, "link");
  std::string good = tree.touch("utf8/good", 5000, 7);
  tree.touch("utf8/bad-\xfe", 5000, 7);  // compared and counted, never listed
  Outcome outcome = scan();
  EXPECT_EQ(groupPaths(outcome), (std::vector<Paths>{{good}}));
  EXPECT_EQ(get<int64_t>(outcome.answer, "scanned"), 3);
  EXPECT_EQ(get<int64_t>(outcome.answer, "wasted"), 5000);

  Outcome missing = call("scanDuplicates", {{"root", tree.path("missing")}});
  EXPECT_EQ(missing.answer, (ValueMap{{"groups", ValueList{}}, {"scanned", int64_t{0}}}));
  EXPECT_TRUE(missing.events.empty());
}

// Each scan reads the clock once per event: the walk's at the 500th candidate, one per bucket,
// and the final one.
TEST_F(DuplicateScanTest, ProgressPer500CandidatesThenPerBucketAndCancellationInEither) {
  makeFiles(tree.path("f"), 500, [](int i) { return 1 + i % 250; });  // 250 pairs of zeros
  Outcome outcome = scan();
  ASSERT_EQ(outcome.events.size(), 1u + 250u + 1u);
  EXPECT_EQ(outcome.events[0].count, 500);
  EXPECT_EQ(outcome.events[0].bytes, 0);
  EXPECT_EQ(outcome.events[1].count, 1);
  EXPECT_EQ(outcome.events[1].bytes, 250);  // the largest bucket first
  EXPECT_EQ(outcome.events[250].count, 250);
  EXPECT_EQ(outcome.events.back(), (Event{"dupes", "", 500, 250 * 251 / 2}));

  cancelAtReading(253);  // the walk's event of the second scan: nothing gets hashed
  Outcome inWalk = scan();
  EXPECT_EQ(inWalk.answer, (ValueMap{{"groups", ValueList{}}, {"scanned", int64_t{500}},
                                     {"wasted", int64_t{0}}, {"cancelled", true}}));
  EXPECT_EQ(inWalk.events.back(), (Event{"dupes", "", 500, 0}));

  cancelAtReading(256);  // the first bucket's event of the third scan
  Outcome betweenBuckets = scan();
  EXPECT_EQ(groupPaths(betweenBuckets).size(), 1u);
  EXPECT_TRUE(get<bool>(betweenBuckets.answer, "cancelled"));
  EXPECT_EQ(betweenBuckets.events.back(), (Event{"dupes", "", 500, 250}));
}

}  // namespace
}  // namespace nimbra::test
