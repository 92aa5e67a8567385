#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "apps/app_folders.h"
#include "apps/bundle_fixtures.h"
#include "support/channel_harness.h"
#include "support/temp_tree.h"

namespace nimbra {
namespace {

using namespace test;

AppFolderRoots rootsIn(const TempTree& tree) {
  return {.home = tree.path("home"), .applications = tree.path("Applications"), .library = tree.path("Library")};
}

// Each application as "name|bundleId|version|size|apple|modified|folder", in answer order.
std::vector<std::string> summary(const ValueMap& answer, const TempTree& tree) {
  std::vector<std::string> rows;
  for (const Value& app : *answer.at("apps").getIf<ValueList>()) {
    const ValueMap& m = *app.getIf<ValueMap>();
    EXPECT_EQ(m.size(), 8u);
    const std::string path = m.at("path").getIf<std::string>()->substr(tree.root().size() + 1);
    rows.push_back(*m.at("name").getIf<std::string>() + "|" + *m.at("bundleId").getIf<std::string>() + "|" +
                   *m.at("version").getIf<std::string>() + "|" + std::to_string(*m.at("size").getIf<int64_t>()) +
                   (*m.at("isApple").getIf<bool>() ? "|apple|" : "|-|") +
                   (*m.at("modified").getIf<int64_t>() == 1700000000 ? "1700000000|" : "") +
                   path.substr(0, path.rfind('/')));
  }
  return rows;
}

// One second per reading, so every progress event gets through; `onReading` sees the count.
NimbraNative::Seams steppingClock(std::function<void(int)> onReading = [](int) {}) {
  return {.clock = [onReading, readings = std::make_shared<int>(0)] {
    onReading(++*readings);
    return 1000.0 + *readings;
  }};
}

TEST(ListApps, ReadsBundlesWithFallbacksSortsBySizeInDiscoveryOrderAndStopsWhenCancelled) {
  TempTree tree;
  makeBundle(tree, "Applications/Big.app",
             {{"CFBundleDisplayName", "Big Editor"}, {"CFBundleName", "Big"}, {"CFBundleIdentifier", "com.apple.big"},
              {"CFBundleShortVersionString", "2.1"}, {"CFBundleVersion", "2100"}}, 9000);
  makeBundle(tree, "Applications/Bin.app",
             {{"CFBundleName", "Bar"}, {"CFBundleIdentifier", "com.applex.tool"}, {"CFBundleVersion", "1234"}}, 7000,
             PlistFormat::binary);
  makeBundle(tree, "Applications/Blank.app",  // present but empty strings are used
             {{"CFBundleDisplayName", ""}, {"CFBundleName", "No"}, {"CFBundleShortVersionString", ""}, {"CFBundleVersion", "9"}}, 6000);
  makeBundle(tree, "Applications/Baz.app", {}, 5000);
  makeBundle(tree, "Applications/Typed.app",  // values of another type count as absent
             {{"CFBundleDisplayName", 1}, {"CFBundleIdentifier", 2}, {"CFBundleVersion", 3}}, 4000);
  tree.write("Applications/Garbage.app/Contents/Info.plist", "\x01not a property list");
  makeBundle(tree, "Applications/Tool.APP", {}, 99999);           // the suffix is case-sensitive
  makeBundle(tree, "Applications/Games/Inner.app", {}, 99999);    // one level only
  tree.symlink(tree.path("Applications/Big.app"), "Applications/Link.app");
  makeBundle(tree, "home/Applications/Big.app", {{"CFBundleName", "Big"}}, 3000);
  makeBundle(tree, "home/Applications/Same.app", {}, 1000);
  makeBundle(tree, "Applications/Utilities/Same.app", {}, 1000);
  const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 900000000}};
  ::utimensat(AT_FDCWD, tree.path("Applications/Baz.app").c_str(), times, 0);

  ChannelHarness harness(steppingClock());
  EXPECT_THAT(summary(listApplications(harness.service(), rootsIn(tree)), tree),
              ::testing::ElementsAre("Big Editor|com.apple.big|2.1|9000|apple|Applications",
                                     "Bar|com.applex.tool|1234|7000|-|Applications", "|||6000|-|Applications",
                                     "Baz|||5000|-|1700000000|Applications", "Typed|||4000|-|Applications",
                                     "Big|||3000|-|home/Applications", "Same|||1000|-|home/Applications",
                                     "Same|||1000|-|Applications/Utilities", "Garbage|||20|-|Applications",
                                     // read through the link, measured as the link
                                     "Big Editor|com.apple.big|2.1|0|apple|Applications"));
  // One event per application, counting the list so far, and no final event.
  ASSERT_TRUE(harness.pumpUntil([&] { return harness.events().size() == 10; }));
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(harness.events()[i].at("count"), Value(static_cast<int64_t>(i + 1)));
    EXPECT_TRUE(harness.events()[i].at("path").getIf<std::string>()->ends_with(".app"));
  }
  EXPECT_EQ(listApplications(harness.service(), rootsIn(TempTree())), (ValueMap{{"apps", ValueList{}}}));

  // The clock is read once per application, right after it joined the list: cancelling after
  // two stops the first folder there and every later folder at its first application.
  NimbraNative* service = nullptr;
  ChannelHarness cancelling(steppingClock([&](int reading) {
    if (reading == 2) service->cancel();
  }));
  service = &cancelling.service();
  const std::vector<std::string> rows = summary(listApplications(*service, rootsIn(tree)), tree);
  ASSERT_EQ(rows.size(), 2u);
  for (const std::string& row : rows) EXPECT_TRUE(row.ends_with("|Applications")) << row;
}

}  // namespace
}  // namespace nimbra
