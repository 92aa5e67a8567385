// The three scans on real trees: "scanDuplicates", "scanLargeFiles" and "analyzeDisk".

#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <ctime>
#include <filesystem>
#include <iterator>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <tuple>

#include "channel/standard_codec.h"
#include "ops/finders/analyze_disk.h"
#include "ops/finders/content_file.h"
#include "ops/finders/file_digests.h"
#include "ops/finders/file_stats.h"
#include "ops/finders/scan_duplicates.h"
#include "ops/finders/scan_large_files.h"
#include "ops/size/size_of.h"
#include "ops/unreadable_answer.h"
#include "platform/process/command_runner.h"
#include "support/answers.h"
#include "support/temp_tree.h"
#include "support/test_context.h"
#include "support/unprivileged.h"

namespace nimbra::test {
namespace {

// A scan's answer and the progress it offered.
struct Outcome {
  ValueMap answer;
  std::vector<Event> events;
};

constexpr int64_t kBig = 4096;

class FinderTest : public ::testing::Test {
 protected:
  // The answer as the interface receives it: the duplicate sets are kept encoded until then.
  template <class Scan>
  Outcome run(Scan scan) {
    context.events.clear();
    context.cancelled = false;
    Decoded<Value> answer = decodeMessage(encodeMessage(scan(*context)));
    return {answer ? asMap(*answer.value) : ValueMap{}, context.events};
  }
  Outcome duplicates(const std::string& root, int64_t minSize = 1) {
    return run([&](OperationContext& c) { return scanDuplicates(c, root, minSize); });
  }
  Outcome large(const std::string& root, int64_t minSize = kBig) {
    return run([&](OperationContext& c) { return scanLargeFiles(c, root, minSize); });
  }
  Outcome analyze(const std::string& root, int64_t depth = 3) {
    return run([&](OperationContext& c) { return analyzeDisk(c, root, depth); });
  }

  TempTree tree;
  TestContext context{{.home = tree.path("home")}};
};
using DuplicateScanTest = FinderTest;
using LargeFileScanTest = FinderTest;
using AnalyzeDiskTest = FinderTest;

ValueMap group(const Outcome& outcome, size_t i) {
  return asMap(get<ValueList>(outcome.answer, "groups")[i]);
}
// The paths of each duplicate group, in the answer's order; of each large file.
std::vector<Paths> groupPaths(const Outcome& outcome) {
  std::vector<Paths> paths;
  for (const Value& g : get<ValueList>(outcome.answer, "groups"))
    paths.push_back(stringsAt(get<ValueList>(asMap(g), "files"), "path"));
  return paths;
}
Paths paths(const Outcome& outcome) {
  return stringsAt(get<ValueList>(outcome.answer, "items"), "path");
}

// The walk is the large file scan's (LargeFileScanTest.WhatTheWalkSkipsAndTheFiveKeysOfAnItem)
// but for "Library", which is pruned at every level here.
TEST_F(DuplicateScanTest, GroupsOfIdenticalVisibleContentByWastedWithPathsInOrder) {
  const int64_t tenMiB = 10 << 20;
  for (const char* copy : {"z/copy", "a/copy", "m/copy"}) tree.touch(copy, tenMiB, 1);
  for (const char* copy : {"s/b", "s/B", "s/a"}) tree.touch(copy, 100, 2);
  tree.touch("deep/Library/s", 100, 2);
  tree.touch("s/bad-\xfe", 100, 2);  // compared and counted, never listed
  // The prefix is the whole file: it alone tells these apart.
  std::string last(kPrefixDigestBytes, 'l');
  tree.write("last/a", last);
  last.back() ^= 1;
  tree.write("last/b", last);
  tree.touch("empty1");
  tree.touch("empty2");
  // Names of one file are no copies: three names alone form no group; a real copy beside two
  // names of one file makes a pair, by the name the walk meets first.
  tree.touch("linked/one", 500, 5);
  tree.hardlink("linked/one", "linked/two");
  tree.hardlink("linked/one", "elsewhere/three");
  tree.touch("h/a", 400, 6);
  tree.hardlink("h/a", "h/a-link");
  tree.touch("h/copy", 400, 6);
  std::string firstName;
  for (const auto& entry : std::filesystem::directory_iterator(tree.path("h"))) {
    if (entry.path().filename() != "copy" && firstName.empty()) firstName = entry.path();
  }
  timeval modified[2] = {{1600000000, 900000}, {1600000000, 900000}};
  ASSERT_EQ(::utimes(tree.path("s/a").c_str(), modified), 0);

  Outcome outcome = duplicates(tree.root());
  EXPECT_EQ(groupPaths(outcome),
      (std::vector<Paths>{{tree.path("a/copy"), tree.path("m/copy"), tree.path("z/copy")},
          {firstName, tree.path("h/copy")},
          {tree.path("s/B"), tree.path("s/a"), tree.path("s/b")}}));
  EXPECT_EQ(get<int64_t>(group(outcome, 0), "size"), tenMiB);
  EXPECT_EQ(get<std::string>(group(outcome, 0), "hash"), hashFile(tree.path("a/copy"))->hex());
  EXPECT_EQ(asMap(get<ValueList>(group(outcome, 2), "files")[1]),
      (ValueMap{{"path", tree.path("s/a")}, {"name", "a"}, {"size", int64_t{100}},
          {"modified", int64_t{1600000000}}}));
  // The unlisted copy wastes too; the names of one file waste nothing, yet each is scanned.
  EXPECT_EQ(get<int64_t>(group(outcome, 1), "wasted"), 400);
  EXPECT_EQ(get<int64_t>(outcome.answer, "wasted"), 2 * tenMiB + 400 + 300);
  EXPECT_EQ(get<int64_t>(outcome.answer, "scanned"), 17);
  // The set of four lists three; it, and the answer, say so.
  EXPECT_EQ(get<int64_t>(group(outcome, 2), "unnamed"), 1);
  EXPECT_EQ(get<int64_t>(outcome.answer, "unnamed"), 1);

  // Empty files now qualify and form a group wasting nothing.
  ValueMap empty = group(duplicates(tree.root(), 0), 3);
  EXPECT_EQ(get<int64_t>(empty, "size"), 0);
  EXPECT_EQ(get<int64_t>(empty, "wasted"), 0);
  EXPECT_EQ(get<std::string>(empty, "hash"),
      "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

  Outcome missing = duplicates(tree.path("missing"));
  EXPECT_EQ(missing.answer, (ValueMap{{"groups", ValueList{}}, {"scanned", int64_t{0}},
                                {"unreadable", int64_t{0}}, {"unreadableFolders", ValueList{}}}));
  EXPECT_TRUE(missing.events.empty());
}

// Each scan reads the clock once per event: the walk's at the 500th candidate, one per bucket,
// and the final one.
TEST_F(DuplicateScanTest, ProgressPer500CandidatesThenPerBucketAndCancellationBetweenBuckets) {
  for (int i = 0; i < 500; ++i)
    tree.sparseFile("f/" + std::to_string(i), 1 + i % 250);  // 250 pairs of zeros
  Outcome outcome = duplicates(tree.root());
  ASSERT_EQ(outcome.events.size(), 1u + 250u + 1u);
  EXPECT_EQ(outcome.events[0].count, 500);
  EXPECT_EQ(outcome.events[0].bytes, 0);
  EXPECT_EQ(outcome.events[1].count, 1);
  EXPECT_EQ(outcome.events[1].bytes, 250);  // the largest bucket first
  EXPECT_EQ(outcome.events[250].count, 250);
  EXPECT_EQ(outcome.events.back(), (Event{"dupes", "", 500, 250 * 251 / 2}));

  context.cancelAtOffer = 2;  // the first bucket's event
  Outcome betweenBuckets = duplicates(tree.root());
  EXPECT_EQ(groupPaths(betweenBuckets).size(), 1u);
  EXPECT_TRUE(get<bool>(betweenBuckets.answer, "cancelled"));
  EXPECT_EQ(betweenBuckets.events.back(), (Event{"dupes", "", 500, 250}));
}

TEST_F(LargeFileScanTest, WhatTheWalkSkipsAndTheFiveKeysOfAnItem) {
  std::string photo = tree.sparseFile("Photo.JPG", kBig + 1);
  std::string visible = tree.sparseFile("visible", kBig);
  std::string deepLibrary = tree.sparseFile("Documents/Library/big", kBig);
  std::string fileNamedLikeAFolder = tree.sparseFile("code/node_modules", kBig);
  // Hidden entries go before any name is looked at: ".git" stands for every hidden skipped name.
  for (const char* skipped : {"Library/Caches/big", "code/a/.git/big", "code/a/node_modules/big",
           ".hidden-file", "Tool.app/Contents/MacOS/big"}) {
    tree.sparseFile(skipped, kBig);
  }
  tree.symlink(visible, "link-to-file");
  tree.sparseFile("bad-\xff", kBig);  // not UTF-8: counted, never listed
  tree.touch("empty");
  timeval modified[2] = {{-2, 500000}, {-2, 500000}};  // 1.5 s before 1970
  ASSERT_EQ(::utimes(photo.c_str(), modified), 0);

  context->folders.home = tree.root();
  Outcome fromHome = large(tree.root());
  Outcome spelledOtherwise = large(tree.root() + "/");  // not the home folder as written
  EXPECT_THAT(paths(fromHome),
      ::testing::UnorderedElementsAre(photo, deepLibrary, fileNamedLikeAFolder, visible));
  EXPECT_EQ(asMap(get<ValueList>(fromHome.answer, "items")[0]),
      (ValueMap{{"path", photo}, {"name", "Photo.JPG"}, {"size", kBig + 1}, {"ext", "jpg"},
          {"modified", int64_t{-1}}}));
  EXPECT_EQ(get<int64_t>(fromHome.answer, "scanned"), 6);
  // Five are large enough; the one not UTF-8 is among the largest and cannot be named.
  EXPECT_EQ(get<int64_t>(fromHome.answer, "matched"), 5);
  EXPECT_EQ(get<int64_t>(fromHome.answer, "unnamed"), 1);
  EXPECT_FALSE(get<bool>(fromHome.answer, "cancelled"));
  EXPECT_EQ(paths(spelledOtherwise).size(), 5u);  // the home Library is searched too
  // A minimum below 0 takes every size; the minimum itself counts ("visible" above).
  ValueList all = get<ValueList>(large(tree.root(), -1).answer, "items");
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(get<std::string>(asMap(all[4]), "path"), tree.path("empty"));
  EXPECT_EQ(get<std::string>(asMap(all[4]), "ext"), "");

  Outcome missing = large(tree.path("missing"));
  EXPECT_EQ(missing.answer, (ValueMap{{"items", ValueList{}}, {"scanned", int64_t{0}},
                                {"unreadable", int64_t{0}}, {"unreadableFolders", ValueList{}}}));
  EXPECT_TRUE(missing.events.empty());
}

// Sizes tie in threes, so the cut at 400 and the order of equal sizes (the walk's) both show.
TEST_F(LargeFileScanTest, The400LargestInWalkOrderProgressEvery500thAndCancellation) {
  const int64_t gib = int64_t{1} << 30;
  for (int i = 0; i < 1200; ++i) tree.sparseFile("f/" + std::to_string(i), gib + i % 3);
  Paths order;  // as the file system lists them: the walk's order
  for (const auto& entry : std::filesystem::directory_iterator(tree.path("f")))
    order.push_back(entry.path());
  auto sizeOf = [&](const std::string& p) {
    return gib + std::stoi(p.substr(p.rfind('/') + 1)) % 3;
  };
  int64_t bytes500 = 0;
  for (int i = 0; i < 500; ++i) bytes500 += sizeOf(order[i]);
  Paths largest;  // a third of the files have the largest size
  for (const std::string& path : order)
    if (sizeOf(path) == gib + 2) largest.push_back(path);

  Outcome full = large(tree.root(), gib);
  EXPECT_EQ(paths(full), largest);
  ASSERT_EQ(full.events.size(), 3u);
  EXPECT_EQ(full.events[0], (Event{"large", order[499], 500, bytes500}));
  EXPECT_EQ(full.events[2], (Event{"large", "", 1200, 1200 * gib + 1200}));

  context.cancelAtOffer = 1;  // the 500th file: stop there
  Outcome cancelled = large(tree.root(), gib);
  EXPECT_TRUE(get<bool>(cancelled.answer, "cancelled"));
  EXPECT_EQ(get<int64_t>(cancelled.answer, "scanned"), 500);
  EXPECT_EQ(get<ValueList>(cancelled.answer, "items").size(), 400u);
  EXPECT_EQ(cancelled.events.back(), (Event{"large", "", 500, bytes500}));
}

ValueMap child(const ValueMap& node, const std::string& name) {
  for (const Value& c : get<ValueList>(node, "children")) {
    if (get<std::string>(asMap(c), "name") == name) return asMap(c);
  }
  ADD_FAILURE() << "no child " << name << " in " << get<std::string>(node, "path");
  return {};
}

ValueMap node(const std::string& name, const std::string& path, int64_t size, int64_t files,
    bool isDir, int64_t modified = 0) {
  return {{"name", name}, {"path", path}, {"size", size}, {"files", files}, {"modified", modified},
      {"isDir", isDir}, {"children", ValueList{}}};
}

// Sets the modification time of the file at `path` in `tree`.
void touchAt(TempTree& tree, const std::string& path, int64_t modified) {
  const timespec times[2] = {{0, UTIME_OMIT}, {modified, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, tree.path(path).c_str(), times, 0), 0);
}

// Beside the depth rules, "many" shows the forty largest children and one remainder, and
// "zeros" the forty it shows and no remainder for the empty ones left. A node is as new as the
// newest file below it, however deep; the remainder as the newest it stands for.
TEST_F(AnalyzeDiskTest, FilesWithinTheDepthAreLeavesDeeperOnesAddUpAndFortyChildrenAreShown) {
  for (const auto& [file, size] :
      std::vector<std::pair<std::string, int64_t>>{{"a/b/c/d/deep", 100}, {"a/b/c/direct", 10},
          {"a/y", 5}, {"x.bin", 7}, {".hidden/h", 3}, {"Tool.app/Contents/t", 4}}) {
    tree.touch(file, size);
  }
  for (int i = 1; i <= 45; ++i) tree.touch("many/f" + std::to_string(i), i);
  tree.touch("many/bad-\xff", 100);  // not UTF-8: never shown, its bytes go to the remainder
  for (int i = 0; i < 45; ++i) tree.sparseFile("zeros/" + std::to_string(i), i < 40 ? 1000 + i : 0);
  tree.symlink(tree.path("x.bin"), "links-only/link");
  for (const char* file : {"a/b/c/direct", "a/y", "x.bin"}) touchAt(tree, file, 1000);
  touchAt(tree, "a/b/c/d/deep", 5000);
  touchAt(tree, "many/f2", 4000000000);  // newer than the files just made

  ValueMap root = analyze(tree.root()).answer;
  const int64_t size = 129 + 1135 + 40780;  // the files above, "many" and "zeros"
  EXPECT_EQ(get<std::string>(root, "name"), tree.root().substr(tree.root().rfind('/') + 1));
  EXPECT_EQ(get<int64_t>(root, "size"), size);
  EXPECT_EQ(get<int64_t>(root, "files"), 6 + 46 + 45);
  EXPECT_EQ(get<int64_t>(root, "scanned"), 6 + 46 + 45);
  EXPECT_FALSE(get<bool>(root, "cancelled"));
  EXPECT_EQ(stringsAt(get<ValueList>(root, "children"), "name"),
      (Paths{"zeros", "many", "a", "x.bin", "Tool.app", ".hidden"}));
  EXPECT_EQ(child(root, "x.bin"), node("x.bin", tree.path("x.bin"), 7, 1, false, 1000));
  EXPECT_EQ(
      child(child(child(root, "a"), "b"), "c"), node("c", tree.path("a/b/c"), 110, 2, true, 5000));
  EXPECT_EQ(get<int64_t>(child(root, "a"), "modified"), 5000);
  ValueList many = get<ValueList>(child(root, "many"), "children");
  ASSERT_EQ(many.size(), 41u);
  EXPECT_EQ(get<std::string>(asMap(many[39]), "name"), "f6");
  ValueMap remainder = node("\xE2\x80\xA6", "", 115, 0, false, 4000000000);
  remainder.emplace("isOther", true);
  EXPECT_EQ(asMap(many[40]), remainder);
  EXPECT_EQ(get<ValueList>(child(root, "zeros"), "children").size(), 40u);
  ValueMap alone = analyze(tree.root(), -2).answer;  // a depth below 1: the root alone
  EXPECT_TRUE(get<ValueList>(alone, "children").empty());
  EXPECT_EQ(get<int64_t>(alone, "size"), size);

  Outcome missing = analyze(tree.path("missing/"));
  EXPECT_EQ(missing.answer, node("missing", tree.path("missing/"), 0, 0, true));
  EXPECT_TRUE(missing.events.empty());
}

// Only a walk from "/" itself shows whether its children's paths get a second slash; it too stops
// at its 2000th file.
TEST_F(AnalyzeDiskTest, ProgressEvery2000thFileAndCancellationKeepsThePartialTree) {
  for (int i = 0; i < 2500; ++i) tree.sparseFile("f/" + std::to_string(i), 2);
  Outcome full = analyze(tree.root());
  ASSERT_EQ(full.events.size(), 2u);
  EXPECT_EQ(full.events[1], (Event{"disk", "", 2500, 5000}));

  // The first event, so it stops at the 2000th file only if that offered it.
  context.cancelAtOffer = 1;
  Outcome cancelled = analyze(tree.root());
  EXPECT_TRUE(get<bool>(cancelled.answer, "cancelled"));
  EXPECT_EQ(get<int64_t>(cancelled.answer, "scanned"), 2000);
  EXPECT_EQ(get<int64_t>(child(cancelled.answer, "f"), "size"), 4000);
  EXPECT_EQ(cancelled.events.back(), (Event{"disk", "", 2000, 4000}));

  ValueMap root = analyze("/", 1).answer;
  EXPECT_EQ(get<std::string>(root, "name"), "/");
  ASSERT_FALSE(get<ValueList>(root, "children").empty());
  const ValueMap largest = asMap(get<ValueList>(root, "children")[0]);
  EXPECT_EQ(get<std::string>(largest, "path"), "/" + get<std::string>(largest, "name"));
}

// A folder the user cannot read leaves its contents out of every figure: each walk counts such
// folders and names the first ones, with the system's reason.
TEST_F(FinderTest, EveryWalkCountsAndNamesTheFoldersItCouldNotRead) {
  std::set<std::string> unreadable = {tree.path("a/secret"), tree.path("c/listed")};
  tree.touch("a/secret/big", kBig);
  tree.touch("c/listed/big", kBig);  // its names can be listed, nothing else of it
  for (int i = 0; i < 11; ++i) {
    unreadable.insert(tree.path("d/" + std::to_string(i)));
    tree.touch("d/" + std::to_string(i) + "/big", kBig);
  }
  tree.touch("b/seen", kBig);
  tree.giveToNobody();
  for (const std::string& folder : unreadable)
    ASSERT_EQ(::chmod(folder.c_str(), folder.ends_with("listed") ? 0444 : 0), 0);
  const std::string answers = runUnprivileged([&] {
    TestContext unprivileged{{.home = tree.path("home")}};
    UnreadableFolders measured;
    sizeOf(*unprivileged, tree.root(), &measured);
    ValueMap sized;
    addUnreadable(sized, measured);
    return toJsonText(ValueList{sized, analyzeDisk(*unprivileged, tree.root(), 1),
        scanLargeFiles(*unprivileged, tree.root(), 1),
        scanDuplicates(*unprivileged, tree.root(), 1)});
  });
  const Value parsed = fromJson(answers);
  ASSERT_NE(parsed.getIf<ValueList>(), nullptr) << answers;
  for (const Value& answer : *parsed.getIf<ValueList>()) {
    EXPECT_EQ(get<int64_t>(asMap(answer), "unreadable"), 13);
    const ValueList folders = get<ValueList>(asMap(answer), "unreadableFolders");
    EXPECT_EQ(folders.size(), UnreadableFolders::kListed);
    for (const Value& folder : folders) {
      EXPECT_TRUE(unreadable.contains(get<std::string>(asMap(folder), "path")));
      EXPECT_EQ(get<std::string>(asMap(folder), "error"), "Permission denied");
    }
  }
}

// One walk counts every file by kind, extension and age, as an independent look at the tree
// (find's sizes and times) says: a package's contents are of its kind, a link counts nothing, and
// a folder that cannot be read is said. Asked for a kind, it lists that kind's files as it
// counts them, largest first.
TEST_F(FinderTest, FileStatsCountEveryFileByKindExtensionAndAge) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const int64_t day = 24 * 60 * 60;
  const std::vector<std::tuple<std::string, int64_t, int64_t>> files = {{"photos/a.JPG", 3000, 10},
      {"photos/b.jpg", 1000, 100}, {"films/c.mp4", 9000, 300}, {"films/.hidden.mkv", 500, 500},
      {"backup/d.tar.gz", 4000, 1000}, {"notes/README", 70, 5}, {"Talk.pages/Data/e.bin", 800, 40},
      {"Tool.app/Contents/MacOS/tool", 2500, 20}, {"code/main.cpp", 300, 800},
      {"secret/f.jpg", 100000, 1}};
  for (const auto& [path, size, age] : files) {
    tree.touch(path, size);
    const timespec times[2] = {{0, UTIME_OMIT}, {now - age * day - 60, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, tree.path(path).c_str(), times, 0), 0);
  }
  tree.symlink(tree.path("films/c.mp4"), "link.mp4");
  tree.giveToNobody();
  ASSERT_EQ(::chmod(tree.path("secret").c_str(), 0), 0);
  const Value answers = fromJson(runUnprivileged([&] {
    TestContext unprivileged{{.home = tree.root()}};
    return toJsonText(ValueList{fileStats(*unprivileged, tree.root(), "images"),
        fileStats(*unprivileged, tree.root(), "applications")});
  }));
  ASSERT_NE(answers.getIf<ValueList>(), nullptr);
  const Value& answer = answers.getIf<ValueList>()->at(0);
  const auto largest = [&](size_t i) {
    return stringsAt(get<ValueList>(asMap(answers.getIf<ValueList>()->at(i)), "largest"), "path");
  };
  EXPECT_EQ(largest(0), (Paths{tree.path("photos/a.JPG"), tree.path("photos/b.jpg")}));
  EXPECT_EQ(largest(1), (Paths{tree.path("Tool.app/Contents/MacOS/tool")}));
  // What find sees (as root) of the readable files: their sizes add up to the answer's.
  std::istringstream sizes(SpawnCommandRunner().run("/usr/bin/find",
      {tree.root(), "-type", "f", "-not", "-path", "*/secret/*", "-printf", "%s\n"}));
  const int64_t found = std::accumulate(std::istream_iterator<int64_t>(sizes), {}, int64_t{0});
  EXPECT_EQ(get<int64_t>(asMap(answer), "size"), found);
  EXPECT_EQ(get<int64_t>(asMap(answer), "files"), 9);
  const auto byName = [&](const char* list, const char* key) {
    std::map<std::string, std::pair<int64_t, int64_t>> out;
    for (const Value& entry : get<ValueList>(asMap(answer), list)) {
      const ValueMap& row = asMap(entry);
      out[get<std::string>(row, key)] = {get<int64_t>(row, "size"), get<int64_t>(row, "files")};
    }
    return out;
  };
  using Counts = std::map<std::string, std::pair<int64_t, int64_t>>;
  EXPECT_EQ(byName("kinds", "kind"),
      (Counts{{"images", {4000, 2}}, {"video", {9500, 2}}, {"audio", {0, 0}},
          {"documents", {800, 1}}, {"archives", {4000, 1}}, {"code", {300, 1}},
          {"applications", {2500, 1}}, {"other", {70, 1}}}));
  EXPECT_EQ(byName("ages", "age"),
      (Counts{{"month", {5570, 3}}, {"halfYear", {1800, 2}}, {"year", {9000, 1}},
          {"twoYears", {500, 1}}, {"older", {4300, 2}}}));
  const Counts extensions = byName("extensions", "ext");
  EXPECT_EQ(extensions.at("jpg"), (std::pair<int64_t, int64_t>{4000, 2}));
  EXPECT_EQ(extensions.at("gz"), (std::pair<int64_t, int64_t>{4000, 1}));
  EXPECT_EQ(extensions.at(""), (std::pair<int64_t, int64_t>{2570, 2}));  // README and tool
  const ValueList kinds = get<ValueList>(asMap(answer), "kinds");
  EXPECT_EQ(get<std::string>(asMap(kinds.front()), "kind"), "video");  // largest first
  EXPECT_EQ(get<int64_t>(asMap(answer), "unreadable"), 1);
}

}  // namespace
}  // namespace nimbra::test
