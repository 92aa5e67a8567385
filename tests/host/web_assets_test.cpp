// The page's files as the program carries them: every file of web/, byte for byte, at exactly
// its own path and no other.

#include "host/ui/web_assets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace nimbra {
namespace {

std::string asText(std::span<const uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(WebAssets, EveryPageFileIsFoundByteForByteAtExactlyItsPath) {
  const std::filesystem::path web = NIMBRA_SOURCE_DIR "/web";
  size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(web)) {
    const std::string path = "/" + entry.path().lexically_relative(web).generic_string();
    if (!entry.is_regular_file() || path == "/package.json")
      continue;  // package.json is Node's alone
    SCOPED_TRACE(path);
    std::ifstream in(entry.path(), std::ios::binary);
    const WebAsset* asset = findWebAsset(path);
    ASSERT_NE(asset, nullptr);
    EXPECT_EQ(asText(asset->bytes), std::string(std::istreambuf_iterator<char>(in), {}));
    ++files;
  }
  EXPECT_EQ(webAssets().size(), files + 1);  // and "/"

  ASSERT_NE(findWebAsset("/"), nullptr);
  EXPECT_EQ(asText(findWebAsset("/")->bytes), asText(findWebAsset("/index.html")->bytes));

  for (const char* path :
      {"/../x", "//index.html", "/index.html?x", "/INDEX.HTML", "index.html", "", "/index.html/",
          "/js/../index.html", "/%69ndex.html", "/package.json", "/js", "/js/"}) {
    EXPECT_EQ(findWebAsset(path), nullptr) << path;
  }
}

}  // namespace
}  // namespace nimbra
