#include "junk/junk_catalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

namespace nimbra {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kHome = "/Users/ann";
const std::string kTmp = "/var/folders/ab/xyz/T/";

TEST(JunkCatalogue, TwelveCategoriesInOrderWithTheirListingRule) {
  auto catalogue = junkCatalogue(kHome, kTmp);
  std::vector<std::pair<std::string, bool>> shape;
  for (const auto& c : catalogue) shape.emplace_back(c.id, c.listChildren);
  EXPECT_THAT(shape, ElementsAre(std::pair{"userCache", true}, std::pair{"userLogs", true},
                                 std::pair{"systemCache", true}, std::pair{"temp", true},
                                 std::pair{"trash", true}, std::pair{"developer", false},
                                 std::pair{"browsers", false}, std::pair{"crashReports", true},
                                 std::pair{"savedState", true}, std::pair{"mail", true},
                                 std::pair{"iosBackups", true}, std::pair{"localization", false}));
}

TEST(JunkCatalogue, RootsAreFormedFromHomeAndTemporaryFolderAsPlainStrings) {
  auto catalogue = junkCatalogue(kHome, kTmp);
  EXPECT_THAT(catalogue[1].roots,
              ElementsAre("/Users/ann/Library/Logs", "/Library/Logs", "/private/var/log"));
  EXPECT_THAT(catalogue[2].roots, ElementsAre("/var/folders/ab/xyz/C", "/Library/Caches"));
  EXPECT_THAT(catalogue[3].roots, ElementsAre("/var/folders/ab/xyz/T/", "/private/tmp"));
  EXPECT_THAT(catalogue[7].roots, ElementsAre("/Users/ann/Library/Logs/DiagnosticReports",
                                              "/Library/Logs/DiagnosticReports"));
  EXPECT_EQ(catalogue[5].roots.size(), 12u);
  EXPECT_EQ(catalogue[5].roots[6], "/Users/ann/.cache");
  EXPECT_EQ(catalogue[6].roots.size(), 8u);
  EXPECT_EQ(catalogue[6].roots[6],
            "/Users/ann/Library/Application Support/Google/Chrome/Default/Service Worker/CacheStorage");
  EXPECT_THAT(catalogue[11].roots, IsEmpty());
}

TEST(JunkCatalogue, AllRootsConcatenatesEveryCategoryInOrder) {
  auto roots = allRoots(junkCatalogue(kHome, kTmp));
  ASSERT_EQ(roots.size(), 35u);
  EXPECT_EQ(roots.front(), "/Users/ann/Library/Caches");
  EXPECT_EQ(roots[1], "/Users/ann/Library/Logs");
  EXPECT_EQ(roots.back(), "/Users/ann/Library/Application Support/MobileSync/Backup");
  EXPECT_EQ(std::set<std::string>(roots.begin(), roots.end()).size(), 35u);
  // Duplicates are kept when two categories name the same root.
  std::vector<JunkCategory> twice = {{"a", {"/x", "/y"}, true}, {"b", {"/x"}, false}};
  EXPECT_THAT(allRoots(twice), ElementsAre("/x", "/y", "/x"));
}

TEST(JunkCatalogue, UserCacheIsTheTemporaryFoldersSiblingNamedC) {
  EXPECT_EQ(userCacheDirectory("/var/folders/ab/xyz/T/"), "/var/folders/ab/xyz/C");
  EXPECT_EQ(userCacheDirectory("/var/folders/ab/xyz/T"), "/var/folders/ab/xyz/C");
  EXPECT_EQ(userCacheDirectory("/tmp/"), "/C");
  EXPECT_EQ(userCacheDirectory("/home/ann/tmp//"), "/home/ann/C");
}

TEST(JunkCatalogue, LocalizationSearchData) {
  EXPECT_THAT(applicationFolders(kHome), ElementsAre("/Applications", "/Users/ann/Applications"));
  auto kept = [](const std::string& folder) {
    return keptLanguages().contains(languageOfLocalization(folder));
  };
  for (const char* folder : {"Base.lproj", "English.lproj", "EN.lproj", "fa.lproj", "en-GB.lproj",
                             "en-us.lproj"}) {
    EXPECT_TRUE(kept(folder)) << folder;
  }
  for (const char* folder : {"fr.lproj", "en_GB.lproj", "zh-Hans.lproj", "eng.lproj"}) {
    EXPECT_FALSE(kept(folder)) << folder;
  }
}

}  // namespace
}  // namespace nimbra
