#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/app_folders.h"
#include "apps/leftover_terms.h"
#include "support/temp_tree.h"

namespace nimbra {
namespace {

using test::TempTree;
using ::testing::ElementsAre;

// Each leftover as "name|size", "|weak" added for weak matches, in answer order.
std::vector<std::string> leftovers(const AppFolderRoots& roots, const std::string& bundleId, const std::string& name) {
  NimbraNative service;
  const ValueMap answer = findLeftovers(service, roots, bundleId, name);
  std::vector<std::string> rows;
  for (const Value& item : *answer.at("items").getIf<ValueList>()) {
    const ValueMap& m = *item.getIf<ValueMap>();
    EXPECT_EQ(m.size(), 4u);
    EXPECT_TRUE(m.at("path").getIf<std::string>()->ends_with(m.at("name").getIf<std::string>()->substr(1)));
    rows.push_back(*m.at("name").getIf<std::string>() + "|" + std::to_string(*m.at("size").getIf<int64_t>()) +
                   (*m.at("weak").getIf<bool>() ? "|weak" : ""));
  }
  return rows;
}

// The home is ".../al"; the machine's library lies in ".../alice", whose path begins with the
// home's text without being below it.
AppFolderRoots rootsIn(const TempTree& tree) {
  return {.home = tree.path("al"), .applications = tree.path("alice/Applications"), .library = tree.path("alice/Library")};
}

TEST(AppLeftovers, FindsIdentifierNameAndWeakMatchesInFolderOrderShowingHomeOnlyBelowIt) {
  TempTree tree;
  tree.touch("al/Library/Application Support/MyApp/data.db", 100);
  tree.touch("al/Library/Caches/MyAppX/cache", 1);  // more than the name
  tree.touch("al/Library/Caches/MyApp/cache", 20);
  tree.touch("al/Library/Preferences/com.example.myapp.plist", 3);
  tree.touch("al/Library/Logs/MyApp Data/log", 4);
  tree.touch("al/Library/Group Containers/group.com.example.myapp/x", 5);
  tree.touch("al/Library/Saved Application State/myapp.savedState/w", 6);
  tree.touch("alice/Library/Caches/MyApp/cache", 8);  // listed again, with its full path
  tree.touch("alice/Library/LaunchDaemons/com.example.MyApp.helper.plist", 9);
  const std::string machine = tree.path("alice/Library");
  EXPECT_THAT(leftovers(rootsIn(tree), "com.example.MyApp", "MyApp"),
              ElementsAre("~/Library/Application Support/MyApp|100", "~/Library/Caches/MyApp|20",
                          "~/Library/Preferences/com.example.myapp.plist|3", "~/Library/Logs/MyApp Data|4",
                          "~/Library/Group Containers/group.com.example.myapp|5",
                          "~/Library/Saved Application State/myapp.savedState|6",
                          machine + "/LaunchDaemons/com.example.MyApp.helper.plist|9", machine + "/Caches/MyApp|8"));
  EXPECT_THAT(leftovers(rootsIn(tree), "", ""), ::testing::IsEmpty());

  // The name "Tk" is too short to be telling; "toolkit" matches weakly, in Application Support only.
  tree.touch("al/Library/Application Support/Toolkit/a", 1);
  tree.touch("al/Library/Caches/Toolkit/b", 2);
  tree.touch("al/Library/Caches/Tk/c", 3);
  tree.touch("alice/Library/Application Support/toolkit/d", 4);
  AppFolderRoots slashed = rootsIn(tree);
  slashed.home += "/";  // a home with a trailing slash still shortens the paths below it
  EXPECT_THAT(leftovers(slashed, "com.example.toolkit", "Tk"),
              ElementsAre("~/Library/Application Support/Toolkit|1|weak", machine + "/Application Support/toolkit|4|weak"));
}

TEST(LeftoverTerms, FoldFullUnicodeCaseAndCountCharactersNotBytes) {
  struct Case {
    const char* bundleId;
    const char* name;
    const char* entry;
    bool inApplicationSupport;
    LeftoverMatch match;
  };
  const Case cases[] = {
      {"com.example.app", "", "app", true, LeftoverMatch::none},  // a last piece of 3 letters
      {"example", "", "example", true, LeftoverMatch::strong},    // no dot: the identifier rule only
      {"com", "", "com.apple.finder.plist", false, LeftoverMatch::none},  // too short to be telling
      {".", "", "com.apple.finder.plist", false, LeftoverMatch::none},
      {"com..example.", "", "example", true, LeftoverMatch::weak},
      {"", "ŸACHT", "ÿacht.savedstate", false, LeftoverMatch::strong},
      {"", "Élan", "ÉLAN SUPPORT", false, LeftoverMatch::strong},
      {"", "Déj", "déj", false, LeftoverMatch::none},                          // 3 characters in 4 bytes
      {"org.example.Çà", "", "ÇÀ", true, LeftoverMatch::none},                 // 2 characters in 4 bytes
      {"org.x.Cafe\u0301", "", "CAFE\u0301", true, LeftoverMatch::weak},       // 4 characters, 5 code points
      {"", "MyApp", "myapp-helper", false, LeftoverMatch::none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.bundleId) + " / " + c.name + " / " + c.entry);
    EXPECT_EQ(LeftoverTerms(c.bundleId, c.name).match(lowerCased(c.entry).value(), c.inApplicationSupport), c.match);
  }
  EXPECT_EQ(lowerCased("\xff"), std::nullopt);
}

}  // namespace
}  // namespace nimbra
