#include "junk/junk_catalogue.h"

#include <gtest/gtest.h>

namespace nimbra {
namespace {

TEST(JunkCatalogue, UserCacheFolderIsTheTemporaryFoldersSiblingC) {
  // The temporary folder's sibling "C"; trailing slashes do not make a component.
  for (const char* tmp : {"/var/folders/xy/T/", "/var/folders/xy/T", "/var/folders/xy/T//"}) {
    EXPECT_EQ(userCacheDirectory(tmp), "/var/folders/xy/C") << tmp;
  }
  EXPECT_EQ(userCacheDirectory("/tmp/"), "/C");
}

}  // namespace
}  // namespace nimbra
