// "listApps" and "appLeftovers" end to end through `nimbra call`, on a home of its own. The
// machine's /Applications and /Library are read as they are and never written.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <span>

#include "apps/bundle_fixtures.h"
#include "apps/icon_fixtures.h"
#include "apps/png_codec.h"
#include "host_process.h"
#include "support/temp_tree.h"
#include "support/test_seams.h"

namespace nimbra::test {
namespace {

using Json = nlohmann::json;

TEST(AppsCall, ListsTheHomesApplicationsWithIconsAndFindsTheirLeftovers) {
  TempTree tree;
  const std::string home = tree.makeDir("home");
  const std::string bundle = makeBundle(tree, "home/Applications/Demo.app",
                                        {{"CFBundleName", "Demo"}, {"CFBundleIdentifier", "com.example.demo"},
                                         {"CFBundleShortVersionString", "1.0"}, {"CFBundleIconFile", "Demo"}},
                                        4096, PlistFormat::binary);
  tree.write("home/Applications/Demo.app/Contents/Resources/Demo.icns",
             icnsFile({{"ic07", solidPng(128, {10, 120, 230, 255})}, {"ic12", solidPng(64, {10, 120, 230, 255})}}));
  tree.touch("home/Library/Caches/com.example.demo/blob", 700);
  ScopedEnv env("HOME", home);

  const auto [status, out, err] = runHost({"call", "listApps"});
  ASSERT_EQ(status, 0) << err;
  const Json answer = Json::parse(out);
  Json demo;
  for (const Json& app : answer.at("apps")) {
    if (app.at("path") == bundle) demo = app;
  }
  ASSERT_FALSE(demo.is_null()) << out;
  EXPECT_EQ(demo.at("name"), "Demo");
  EXPECT_EQ(demo.at("version"), "1.0");
  EXPECT_EQ(demo.at("isApple"), false);
  EXPECT_GT(demo.at("size").get<int64_t>(), 4096);
  const std::string png = fromBase64(demo.at("icon"));
  const std::optional<RgbaImage> icon = decodePng(std::span(reinterpret_cast<const uint8_t*>(png.data()), png.size()));
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, 64u);
  EXPECT_EQ(icon->height, 64u);

  const auto [status2, leftovers, err2] =
      runHost({"call", "appLeftovers", R"({"bundleId":"com.example.demo","name":"Demo"})"});
  ASSERT_EQ(status2, 0) << err2;
  const Json items = Json::parse(leftovers).at("items");
  ASSERT_FALSE(items.empty()) << leftovers;
  EXPECT_EQ(items[0], (Json{{"path", home + "/Library/Caches/com.example.demo"},
                            {"name", "~/Library/Caches/com.example.demo"},
                            {"size", 700},
                            {"weak", false}}));
}

}  // namespace
}  // namespace nimbra::test
