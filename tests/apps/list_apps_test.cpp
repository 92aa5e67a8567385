#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <fcntl.h>
#include <memory>
#include <string>
#include <vector>

#include "apps/app_folders.h"
#include "apps/bundle_fixtures.h"
#include "support/channel_harness.h"
#include "support/temp_tree.h"

namespace nimbra {
namespace {

using test::InfoEntry;
using test::makeBundle;
using test::PlistFormat;
using test::TempTree;

AppFolderRoots rootsIn(const TempTree& tree) {
  return {.home = tree.path("home"), .applications = tree.path("Applications"),
          .library = tree.path("Library")};
}

// Each application as "name|bundleId|version|size|isApple|folder", in answer order.
std::vector<std::string> summary(const ValueMap& answer, const TempTree& tree) {
  std::vector<std::string> rows;
  for (const Value& app : *answer.at("apps").getIf<ValueList>()) {
    const ValueMap& map = *app.getIf<ValueMap>();
    EXPECT_EQ(map.size(), 8u);
    std::string path = *map.at("path").getIf<std::string>();
    std::string folder = path.substr(tree.root().size() + 1);
    folder = folder.substr(0, folder.rfind('/'));
    rows.push_back(*map.at("name").getIf<std::string>() + "|" + *map.at("bundleId").getIf<std::string>() +
                   "|" + *map.at("version").getIf<std::string>() + "|" +
                   std::to_string(*map.at("size").getIf<int64_t>()) + "|" +
                   (*map.at("isApple").getIf<bool>() ? "apple" : "-") + "|" + folder);
  }
  return rows;
}

// A clock that lets every progress event through: one second per reading.
NimbraNative::Seams steppingClock(std::function<void(int)> onReading = {}) {
  return {.clock = [onReading, readings = std::make_shared<int>(0)] {
    ++*readings;
    if (onReading) onReading(*readings);
    return 1000.0 + *readings;
  }};
}

TEST(ListApps, ReadsEachBundleWithItsFallbacksAndSortsBySizeKeepingDiscoveryOrder) {
  TempTree tree;
  makeBundle(tree, "Applications/Big.app",
             {{"CFBundleDisplayName", "Big Editor"}, {"CFBundleName", "Big"},
              {"CFBundleIdentifier", "com.apple.big"}, {"CFBundleShortVersionString", "2.1"},
              {"CFBundleVersion", "2100"}},
             9000);
  makeBundle(tree, "Applications/Bin.app",
             {{"CFBundleName", "Bar"}, {"CFBundleIdentifier", "com.applex.tool"}, {"CFBundleVersion", "1234"}},
             7000, PlistFormat::binary);
  // A present but empty string is used, for the name and the version alike.
  makeBundle(tree, "Applications/Blank.app",
             {{"CFBundleDisplayName", ""}, {"CFBundleName", "Unused"}, {"CFBundleShortVersionString", ""},
              {"CFBundleVersion", "9"}},
             6000);
  makeBundle(tree, "Applications/Baz.app", {}, 5000);  // no information file at all
  // Keys of another type count as absent.
  makeBundle(tree, "Applications/Typed.app",
             {{"CFBundleDisplayName", int64_t{1}}, {"CFBundleIdentifier", int64_t{2}}, {"CFBundleVersion", int64_t{3}}},
             4000);
  tree.write("Applications/Garbage.app/Contents/Info.plist", "\x01not a property list");
  makeBundle(tree, "Applications/Tool.APP", {{"CFBundleName", "Upper"}}, 99999);       // case-sensitive suffix
  makeBundle(tree, "Applications/Games/Inner.app", {{"CFBundleName", "Inner"}}, 99999);  // one level only
  tree.symlink(tree.path("Applications/Big.app"), "Applications/Link.app");             // measures 0
  // The same application in two folders is listed twice; equal sizes keep folder order.
  makeBundle(tree, "home/Applications/Big.app", {{"CFBundleName", "Big"}}, 3000);
  makeBundle(tree, "home/Applications/Same.app", {}, 1000);
  makeBundle(tree, "Applications/Utilities/Same.app", {}, 1000);
  ::utimensat(AT_FDCWD, tree.path("Applications/Baz.app").c_str(),
              std::array<timespec, 2>{timespec{0, UTIME_OMIT}, timespec{1700000000, 900000000}}.data(), 0);

  test::ChannelHarness harness(steppingClock());
  const ValueMap answer = listApplications(harness.service(), rootsIn(tree));
  const std::vector<std::string> expected = {
      "Big Editor|com.apple.big|2.1|9000|apple|Applications",
      "Bar|com.applex.tool|1234|7000|-|Applications",
      "|||6000|-|Applications",
      "Baz|||5000|-|Applications",
      "Typed|||4000|-|Applications",
      "Big|||3000|-|home/Applications",
      "Same|||1000|-|home/Applications",
      "Same|||1000|-|Applications/Utilities",
      "Garbage|||20|-|Applications",
      // Read through the link, measured as the link.
      "Big Editor|com.apple.big|2.1|0|apple|Applications"};
  EXPECT_THAT(summary(answer, tree), ::testing::ElementsAreArray(expected));
  for (const Value& app : *answer.at("apps").getIf<ValueList>()) {
    const ValueMap& map = *app.getIf<ValueMap>();
    if (*map.at("name").getIf<std::string>() == "Baz") {
      EXPECT_EQ(map.at("modified"), Value(int64_t{1700000000}));
    }
  }

  // One event per application, counting the list so far, and no final event.
  ASSERT_TRUE(harness.pumpUntil([&] { return harness.events().size() == expected.size(); }));
  for (size_t i = 0; i < harness.events().size(); ++i) {
    const ValueMap& event = harness.events()[i];
    EXPECT_EQ(event.at("task"), Value("apps"));
    EXPECT_EQ(event.at("count"), Value(static_cast<int64_t>(i + 1)));
    EXPECT_EQ(event.at("bytes"), Value(int64_t{0}));
    EXPECT_TRUE(event.at("path").getIf<std::string>()->ends_with(".app"));
  }

  const ValueMap none = listApplications(harness.service(), rootsIn(TempTree()));
  EXPECT_EQ(none, (ValueMap{{"apps", ValueList{}}}));
}

TEST(ListApps, CancellationStopsThisFolderAndEveryLaterOneAndKeepsWhatWasFoundSorted) {
  TempTree tree;
  for (int i = 1; i <= 4; ++i) makeBundle(tree, "Applications/A" + std::to_string(i) + ".app", {}, i * 100);
  makeBundle(tree, "home/Applications/Home.app", {}, 5000);
  makeBundle(tree, "Applications/Utilities/Util.app", {}, 6000);
  NimbraNative* service = nullptr;
  // The clock is read once per application, right after it joined the list: cancel after two.
  test::ChannelHarness harness(steppingClock([&](int reading) {
    if (reading == 2) service->cancel();
  }));
  service = &harness.service();
  const ValueMap answer = listApplications(*service, rootsIn(tree));
  const ValueList& apps = *answer.at("apps").getIf<ValueList>();
  ASSERT_EQ(apps.size(), 2u);
  const int64_t first = *apps[0].getIf<ValueMap>()->at("size").getIf<int64_t>();
  const int64_t second = *apps[1].getIf<ValueMap>()->at("size").getIf<int64_t>();
  EXPECT_GT(first, second);
  EXPECT_LE(first, 400);
}

}  // namespace
}  // namespace nimbra
