// "listApps" and "appLeftovers" end to end through `nimbra call`, on a home of its own. The
// machine's /Applications and /Library are only read.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "apps/bundle_fixtures.h"
#include "apps/icon_fixtures.h"
#include "apps/png_codec.h"
#include "host_process.h"
#include "support/test_seams.h"

namespace nimbra::test {
namespace {

using Json = nlohmann::json;

TEST(AppsCall, ListsTheHomesApplicationWithA64PixelIconAndFindsItsLeftovers) {
  TempTree tree;
  const std::string home = tree.makeDir("home");
  const std::string bundle = makeBundle(tree, "home/Applications/Demo.app",
                                        {{"CFBundleName", "Demo"}, {"CFBundleIdentifier", "com.example.demo"},
                                         {"CFBundleShortVersionString", "1.0"}, {"CFBundleIconFile", "Demo"}},
                                        4096, PlistFormat::binary);
  tree.write("home/Applications/Demo.app/Contents/Resources/Demo.icns",
             icnsFile({{"ic07", solidPng(128, {10, 120, 230, 255})}}));
  tree.touch("home/Library/Caches/com.example.demo/blob", 700);
  ScopedEnv env("HOME", home);

  // Json::parse throws, failing the test, when a call prints no answer.
  const Json apps = Json::parse(std::get<1>(runHost({"call", "listApps"}))).at("apps");
  const auto demo = std::find_if(apps.begin(), apps.end(), [&](const Json& app) { return app.at("path") == bundle; });
  ASSERT_NE(demo, apps.end()) << apps;
  EXPECT_EQ(std::pair(demo->at("name"), demo->at("version")), std::pair(Json("Demo"), Json("1.0")));
  const std::string png = fromBase64(demo->at("icon"));
  const std::optional<RgbaImage> icon = decodePng({reinterpret_cast<const uint8_t*>(png.data()), png.size()});
  EXPECT_EQ(icon ? icon->width * icon->height : 0u, 64u * 64);

  const auto leftovers = runHost({"call", "appLeftovers", R"({"bundleId":"com.example.demo","name":"Demo"})"});
  EXPECT_EQ(Json::parse(std::get<1>(leftovers)).at("items").at(0),
            (Json{{"path", home + "/Library/Caches/com.example.demo"}, {"name", "~/Library/Caches/com.example.demo"},
                  {"size", 700}, {"weak", false}}));
}

}  // namespace
}  // namespace nimbra::test
