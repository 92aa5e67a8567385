#include "junk/junk_catalogue.h"

#include <gtest/gtest.h>

namespace nimbra {
namespace {

TEST(JunkCatalogue, UserCacheFolderRootsAndKeptLanguages) {
  // The temporary folder's sibling "C"; trailing slashes do not make a component.
  for (const char* tmp : {"/var/folders/xy/T/", "/var/folders/xy/T", "/var/folders/xy/T//"}) {
    EXPECT_EQ(userCacheDirectory(tmp), "/var/folders/xy/C") << tmp;
  }
  EXPECT_EQ(userCacheDirectory("/tmp/"), "/C");
  EXPECT_EQ(allRoots(junkCatalogue("/Users/ann", "/var/folders/xy/T/")).size(), 35u);
  for (const char* kept : {"Base.lproj", "English.lproj", "EN.lproj", "fa.lproj", "en-GB.lproj",
                           "en-us.lproj"}) {
    EXPECT_TRUE(keptLanguages().contains(languageOfLocalization(kept))) << kept;
  }
  for (const char* offered : {"fr.lproj", "en_GB.lproj", "zh-Hans.lproj", "eng.lproj"}) {
    EXPECT_FALSE(keptLanguages().contains(languageOfLocalization(offered))) << offered;
  }
}

}  // namespace
}  // namespace nimbra
