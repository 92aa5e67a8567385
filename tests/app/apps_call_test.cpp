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

  const auto [status, out, err] = runHost({"call", "listApps"});
  ASSERT_EQ(status, 0) << err;
  const Json answer = Json::parse(out);
  const auto demo = std::find_if(answer.at("apps").begin(), answer.at("apps").end(),
                                 [&](const Json& app) { return app.at("path") == bundle; });
  ASSERT_NE(demo, answer.at("apps").end()) << out;
  EXPECT_EQ(demo->at("name"), "Demo");
  EXPECT_EQ(demo->at("version"), "1.0");
  const std::string png = fromBase64(demo->at("icon"));
  const std::optional<RgbaImage> icon = decodePng({reinterpret_cast<const uint8_t*>(png.data()), png.size()});
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width * icon->height, 64u * 64);

  const auto [status2, leftovers, err2] = runHost({"call", "appLeftovers", R"({"bundleId":"com.example.demo","name":"Demo"})"});
  ASSERT_EQ(status2, 0) << err2;
  EXPECT_EQ(Json::parse(leftovers).at("items").at(0),
            (Json{{"path", home + "/Library/Caches/com.example.demo"}, {"name", "~/Library/Caches/com.example.demo"},
                  {"size", 700}, {"weak", false}}));
}

}  // namespace
}  // namespace nimbra::test
