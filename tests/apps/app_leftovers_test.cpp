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

// Each leftover as "name|size" with "|weak" for weak matches, in answer order; the full path
// must be the searched folder and the entry.
std::vector<std::string> leftovers(NimbraNative& service, const AppFolderRoots& roots,
                                   const std::string& bundleId, const std::string& name) {
  const ValueMap answer = findLeftovers(service, roots, bundleId, name);
  std::vector<std::string> rows;
  for (const Value& item : *answer.at("items").getIf<ValueList>()) {
    const ValueMap& map = *item.getIf<ValueMap>();
    EXPECT_EQ(map.size(), 4u);
    rows.push_back(*map.at("name").getIf<std::string>() + "|" + std::to_string(*map.at("size").getIf<int64_t>()) +
                   (*map.at("weak").getIf<bool>() ? "|weak" : ""));
  }
  return rows;
}

// The home is ".../al"; the machine's library lies in ".../alice", which begins with the home's
// text but is not below it.
AppFolderRoots rootsIn(const TempTree& tree) {
  return {.home = tree.path("al"), .applications = tree.path("alice/Applications"),
          .library = tree.path("alice/Library")};
}

TEST(AppLeftovers, FindsIdentifierAndNameMatchesInFolderOrderAndShowsHomeOnlyBelowIt) {
  TempTree tree;
  tree.touch("al/Library/Application Support/MyApp/data.db", 100);
  tree.touch("al/Library/Caches/MyAppX/cache", 1);               // more than the name
  tree.touch("al/Library/Caches/MyApp/cache", 20);
  tree.touch("al/Library/Preferences/com.example.myapp.plist", 3);
  tree.touch("al/Library/Logs/MyApp Data/log", 4);
  tree.touch("al/Library/Group Containers/group.com.example.myapp/x", 5);
  tree.touch("al/Library/Saved Application State/myapp.savedState/w", 6);
  tree.touch("al/Library/Cookies/other.binarycookies", 7);
  tree.touch("alice/Library/Caches/MyApp/cache", 8);               // listed again, full path
  tree.touch("alice/Library/LaunchDaemons/com.example.MyApp.helper.plist", 9);
  const std::string home = tree.path("al");
  const std::string machine = tree.path("alice/Library");
  NimbraNative service;
  EXPECT_THAT(leftovers(service, rootsIn(tree), "com.example.MyApp", "MyApp"),
              ::testing::ElementsAre("~/Library/Application Support/MyApp|100", "~/Library/Caches/MyApp|20",
                                     "~/Library/Preferences/com.example.myapp.plist|3", "~/Library/Logs/MyApp Data|4",
                                     "~/Library/Group Containers/group.com.example.myapp|5",
                                     "~/Library/Saved Application State/myapp.savedState|6",
                                     machine + "/LaunchDaemons/com.example.MyApp.helper.plist|9",
                                     machine + "/Caches/MyApp|8"));
  EXPECT_THAT(leftovers(service, rootsIn(tree), "", ""), ::testing::IsEmpty());
  // A home given with a trailing slash still shortens the paths below it.
  AppFolderRoots slashed = rootsIn(tree);
  slashed.home += "/";
  EXPECT_THAT(leftovers(service, slashed, "", "MyApp Data"), ::testing::ElementsAre("~/Library/Logs/MyApp Data|4"));
}

TEST(AppLeftovers, WeakMatchesOnlyByTheIdentifiersLastPieceInApplicationSupport) {
  TempTree tree;
  tree.touch("al/Library/Application Support/Toolkit/a", 1);
  tree.touch("al/Library/Caches/Toolkit/b", 2);  // not in an Application Support folder
  tree.touch("al/Library/Caches/Tk/c", 3);       // the name is too short to be telling
  tree.touch("alice/Library/Application Support/toolkit/d", 4);
  NimbraNative service;
  EXPECT_THAT(leftovers(service, rootsIn(tree), "com.example.toolkit", "Tk"),
              ::testing::ElementsAre("~/Library/Application Support/Toolkit|1|weak",
                                     tree.path("alice/Library/Application Support/toolkit") + "|4|weak"));
}

TEST(LeftoverTerms, FoldsFullUnicodeCaseAndCountsCharactersNotBytes) {
  struct Case {
    const char* bundleId;
    const char* name;
    const char* entry;
    bool inApplicationSupport;
    LeftoverMatch match;
  };
  const Case cases[] = {
      {"com.example.app", "", "app", true, LeftoverMatch::none},             // 3-letter last piece
      {"example", "", "example", true, LeftoverMatch::strong},               // no dot: identifier rule only
      {"com..example.", "", "example", true, LeftoverMatch::weak},          // empty pieces dropped
      {"", "ŸACHT", "ÿacht.savedstate", false, LeftoverMatch::strong},      // beyond ASCII
      {"", "Élan", "ÉLAN SUPPORT", false, LeftoverMatch::strong},
      {"", "Déj", "déj", false, LeftoverMatch::none},                        // 3 characters in 4 bytes
      {"com.example.ÇA", "", "com.example.ça.plist", true, LeftoverMatch::strong},  // no count for the identifier
      {"org.example.Çà", "", "ÇÀ", true, LeftoverMatch::none},  // 2 characters in 4 bytes: no weak rule
      {"org.x.Café", "", "CAFÉ", true, LeftoverMatch::weak},
      {"org.x.Cafe\u0301", "", "CAFE\u0301", true, LeftoverMatch::weak},     // 4 characters, 5 code points
      {"", "MyApp", "myapp", false, LeftoverMatch::strong},
      {"", "MyApp", "myapp-helper", false, LeftoverMatch::none},
      {"", "", "anything", true, LeftoverMatch::none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.bundleId) + " / " + c.name + " / " + c.entry);
    const std::optional<std::string> lower = lowerCased(c.entry);
    ASSERT_TRUE(lower);
    EXPECT_EQ(LeftoverTerms(c.bundleId, c.name).match(*lower, c.inApplicationSupport), c.match);
  }
  EXPECT_EQ(lowerCased("\xff"), std::nullopt);
}

}  // namespace
}  // namespace nimbra
