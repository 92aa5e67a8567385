// "listApps" and "appLeftovers" over folders rooted in a temporary tree: bundles built for real,
// and library folders whose entries name an application or not.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/stat.h>

#include "ops/apps/app_leftovers.h"
#include "ops/apps/leftover_terms.h"
#include "ops/apps/list_apps.h"
#include "ops/apps/uninstall_app.h"
#include "platform/process/script_grammar.h"
#include "support/answers.h"
#include "support/bundle_fixtures.h"
#include "support/deletion_fixtures.h"

namespace nimbra::test {
namespace {

using ::testing::ElementsAre;

// The home is ".../al"; the machine's folders lie in ".../alice", whose path begins with the
// home's text without being below it.
Folders foldersIn(const TempTree& tree) {
  return {.home = tree.path("al"),
      .applications = tree.path("alice/Applications"),
      .library = tree.path("alice/Library")};
}

// Each application as "name|bundleId|version|size|apple|modified|folder", in answer order.
std::vector<std::string> summary(const ValueMap& answer, const TempTree& tree) {
  std::vector<std::string> rows;
  for (const Value& app : get<ValueList>(answer, "apps")) {
    const ValueMap m = asMap(app);
    EXPECT_EQ(m.size(), 8u);
    const std::string path = get<std::string>(m, "path").substr(tree.root().size() + 1);
    rows.push_back(get<std::string>(m, "name") + "|" + get<std::string>(m, "bundleId") + "|" +
                   get<std::string>(m, "version") + "|" + std::to_string(get<int64_t>(m, "size")) +
                   (get<bool>(m, "isApple") ? "|apple|" : "|-|") +
                   (get<int64_t>(m, "modified") == 1700000000 ? "1700000000|" : "") +
                   path.substr(0, path.rfind('/')));
  }
  return rows;
}

TEST(ListApps, ReadsBundlesWithFallbacksSortsBySizeInDiscoveryOrderAndStopsWhenCancelled) {
  TempTree tree;
  makeBundle(tree, "alice/Applications/Big.app",
      {{"CFBundleDisplayName", "Big Editor"}, {"CFBundleName", "Big"},
          {"CFBundleIdentifier", "com.apple.big"}, {"CFBundleShortVersionString", "2.1"},
          {"CFBundleVersion", "2100"}},
      9000);
  makeBundle(tree, "alice/Applications/Bin.app",
      {{"CFBundleName", "Bar"}, {"CFBundleIdentifier", "com.applex.tool"},
          {"CFBundleVersion", "1234"}},
      7000, PlistFormat::binary);
  makeBundle(tree, "alice/Applications/Blank.app",  // present but empty strings are used
      {{"CFBundleDisplayName", ""}, {"CFBundleName", "No"}, {"CFBundleShortVersionString", ""},
          {"CFBundleVersion", "9"}},
      6000);
  makeBundle(tree, "alice/Applications/Baz.app", {}, 5000);
  makeBundle(tree, "alice/Applications/Typed.app",  // values of another type count as absent
      {{"CFBundleDisplayName", 1}, {"CFBundleIdentifier", 2}, {"CFBundleVersion", 3}}, 4000);
  makeBundle(tree, "alice/Applications/Tool.APP", {}, 99999);  // the suffix is case-sensitive
  makeBundle(tree, "alice/Applications/Games/Inner.app", {}, 99999);  // one level only
  tree.symlink(tree.path("alice/Applications/Big.app"), "alice/Applications/Link.app");
  // Links that lead nowhere name no application: to themselves, to nothing.
  tree.symlink("Loop.app", "alice/Applications/Loop.app");
  tree.symlink(tree.path("alice/Applications/Gone.app"), "alice/Applications/Dangling.app");
  makeBundle(tree, "al/Applications/Same.app", {}, 1000);
  makeBundle(tree, "alice/Applications/Utilities/Same.app", {}, 1000);
  const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 900000000}};
  ::utimensat(AT_FDCWD, tree.path("alice/Applications/Baz.app").c_str(), times, 0);

  TestContext context(foldersIn(tree));
  EXPECT_THAT(summary(listApps(*context), tree),
      ElementsAre("Big Editor|com.apple.big|2.1|9000|apple|alice/Applications",
          "Bar|com.applex.tool|1234|7000|-|alice/Applications", "|||6000|-|alice/Applications",
          "Baz|||5000|-|1700000000|alice/Applications", "Typed|||4000|-|alice/Applications",
          "Same|||1000|-|al/Applications", "Same|||1000|-|alice/Applications/Utilities",
          // read through the link, measured as the link
          "Big Editor|com.apple.big|2.1|0|apple|alice/Applications"));
  // One event per application, counting the list so far, and no final event.
  ASSERT_EQ(context.events.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(context.events[i].count, static_cast<int64_t>(i + 1));
    EXPECT_TRUE(context.events[i].path.ends_with(".app"));
  }
  TempTree none;
  EXPECT_EQ(listApps(*TestContext(foldersIn(none))), (ValueMap{{"apps", ValueList{}}}));

  // An event comes right after each application joined the list: cancelling at the second stops
  // the first folder there and every later folder at its first application.
  context.events.clear();
  context.cancelAtOffer = 2;
  const std::vector<std::string> rows = summary(listApps(*context), tree);
  ASSERT_EQ(rows.size(), 2u);
  for (const std::string& row : rows) EXPECT_TRUE(row.ends_with("|alice/Applications")) << row;
}

// Each leftover as "name|size", "|weak" added for weak matches, in answer order.
std::vector<std::string> leftovers(
    const Folders& folders, const std::string& bundleId, const std::string& name) {
  std::vector<std::string> rows;
  for (const Value& item :
      get<ValueList>(appLeftovers(*TestContext(folders), bundleId, name), "items")) {
    const ValueMap m = asMap(item);
    EXPECT_EQ(m.size(), 4u);
    EXPECT_TRUE(get<std::string>(m, "path").ends_with(get<std::string>(m, "name").substr(1)));
    rows.push_back(get<std::string>(m, "name") + "|" + std::to_string(get<int64_t>(m, "size")) +
                   (get<bool>(m, "weak") ? "|weak" : ""));
  }
  return rows;
}

TEST(AppLeftovers, FindsIdentifierNameAndWeakMatchesInFolderOrderShowingHomeOnlyBelowIt) {
  TempTree tree;
  tree.touch("al/Library/Application Support/MyApp/data.db", 100);
  tree.touch("al/Library/Caches/MyAppX/cache", 1);  // more than the name
  tree.touch("al/Library/Caches/MyApp/cache", 20);
  tree.touch("al/Library/Logs/MyApp Data/log", 4);
  tree.touch("al/Library/Group Containers/group.com.example.myapp/x", 5);
  tree.touch("al/Library/Saved Application State/myapp.savedState/w", 6);
  tree.touch("alice/Library/Caches/MyApp/cache", 8);  // listed again, with its full path
  tree.touch("alice/Library/LaunchDaemons/com.example.MyApp.helper.plist", 9);
  // The identifier only as a whole run, between ". - _" or a space and the ends of the name.
  tree.touch("al/Library/Containers/TEAMID.com.example.myapp/x", 10);
  tree.touch("al/Library/Preferences/com.example.myapp-helper.plist", 11);
  tree.touch("al/Library/Preferences/com.example.myapps.plist", 1);
  tree.touch("al/Library/Preferences/xcom.example.myapp.plist", 1);
  const std::string machine = tree.path("alice/Library");
  EXPECT_THAT(leftovers(foldersIn(tree), "com.example.MyApp", "MyApp"),
      ElementsAre("~/Library/Application Support/MyApp|100", "~/Library/Caches/MyApp|20",
          "~/Library/Preferences/com.example.myapp-helper.plist|11",
          "~/Library/Logs/MyApp Data|4|weak",  // perhaps another application's
          "~/Library/Containers/TEAMID.com.example.myapp|10",
          "~/Library/Group Containers/group.com.example.myapp|5",
          "~/Library/Saved Application State/myapp.savedState|6",
          machine + "/LaunchDaemons/com.example.MyApp.helper.plist|9",
          machine + "/Caches/MyApp|8"));
  // What is no identifier names nothing, however many names hold it.
  for (const char* notAnIdentifier : {".plist", "com.", "com.example."}) {
    EXPECT_THAT(leftovers(foldersIn(tree), notAnIdentifier, ""), ::testing::IsEmpty())
        << notAnIdentifier;
  }

  // The name "Tk" is too short to be telling; "toolkit" matches weakly, in Application Support
  // only.
  tree.touch("al/Library/Application Support/Toolkit/a", 1);
  tree.touch("al/Library/Caches/Toolkit/b", 2);
  tree.touch("al/Library/Caches/Tk/c", 3);
  tree.touch("alice/Library/Application Support/toolkit/d", 4);
  Folders slashed = foldersIn(tree);
  slashed.home += "/";  // a home with a trailing slash still shortens the paths below it
  EXPECT_THAT(leftovers(slashed, "com.example.toolkit", "Tk"),
      ElementsAre("~/Library/Application Support/Toolkit|1|weak",
          machine + "/Application Support/toolkit|4|weak"));
}

// Leftovers removed while their application stays are lost, and the application is left
// without them: they go only once it is gone, wherever they stand among the paths. Stuck.app is
// root's, so nobody cannot remove it, and the administrator (the recording runner) declines.
TEST(UninstallApp, TheLeftoversGoOnlyOnceTheApplicationIsGone) {
  TempTree tree;
  const Folders folders{.home = tree.makeDir("home"), .trash = tree.path("home/data/Trash")};
  const std::string stuck = makeBundle(tree, "Applications/Stuck.app", {}, 3000);
  const std::string free = makeBundle(tree, "home/Applications/Free.app", {}, 2000);
  tree.touch("home/Library/Caches/com.example.stuck/c", 100);
  const std::string stuckCache = tree.path("home/Library/Caches/com.example.stuck"),
                    stuckPrefs = tree.touch("home/Library/Preferences/com.example.stuck.plist", 10),
                    freeCache = tree.touch("home/Library/Caches/com.example.free", 30);
  tree.giveToNobody();
  SpawnCommandRunner().run("/bin/chown", {"-R", "0:0", tree.path("Applications")});

  const std::string answers = runUnprivileged([&] {
    RecordingScriptRunner admin;
    TestContext context(folders, {.scripts = &admin});
    std::string answers = json(uninstallApp(*context, {stuckCache, stuck, stuckPrefs}, false));
    answers += toJsonText(ValueList(admin.scripts.begin(), admin.scripts.end()));
    answers += json(uninstallApp(*context, {freeCache, free}, true));
    for (const Event& event : context.events) answers += "\n" + ::testing::PrintToString(event);
    return answers;
  });
  // One final event per call, counting every path; the application's position comes first.
  std::string expected =
      json(deleteResult(0, {stuck, stuckCache, stuckPrefs},
          stuck + "/Contents/MacOS/main: Permission denied\nUser canceled.\n"
                  "Nothing else was removed, since the application could not be.")) +
      toJsonText(ValueList{adminRemovalScript({stuck})}) + json(deleteResult(2030));
  for (const Event& event : {deleteEvent(stuck, 1, 0), deleteEvent("", 3, 0),
           deleteEvent(free, 1, 2000), deleteEvent(freeCache, 2, 2030), deleteEvent("", 2, 2030)})
    expected += "\n" + ::testing::PrintToString(event);
  EXPECT_EQ(answers, expected);
  EXPECT_TRUE(present(stuck) && present(stuckCache) && present(stuckPrefs));
  EXPECT_FALSE(present(free) || present(freeCache));
}

TEST(LeftoverTerms, FoldFullUnicodeCaseAndCountCharactersNotBytes) {
  // Identifier, name, entry, whether in an "Application Support" folder, the match.
  const std::tuple<const char*, const char*, const char*, bool, LeftoverMatch> cases[] = {
      {"com.example.app", "", "app", true, LeftoverMatch::none},  // a last piece of 3 letters
      {"com", "", "com.apple.finder.plist", false, LeftoverMatch::none},  // too short to be telling
      {"com..example.", "", "example", true, LeftoverMatch::weak},
      {"", "ŸACHT", "ÿacht.savedstate", false, LeftoverMatch::strong},
      {"", "Déj", "déj", false, LeftoverMatch::none},            // 3 characters in 4 bytes
      {"org.example.Çà", "", "ÇÀ", true, LeftoverMatch::none}};  // 2 characters in 4 bytes
  for (const auto& [bundleId, name, entry, inApplicationSupport, match] : cases) {
    SCOPED_TRACE(std::string(bundleId) + " / " + name + " / " + entry);
    EXPECT_EQ(LeftoverTerms(bundleId, name).match(lowerCased(entry).value(), inApplicationSupport),
        match);
  }
  EXPECT_EQ(lowerCased("\xff"), std::nullopt);
}

}  // namespace
}  // namespace nimbra::test
