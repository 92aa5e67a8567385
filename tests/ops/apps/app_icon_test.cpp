#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ops/apps/app_icon.h"
#include "platform/formats/png_codec.h"
#include "platform/formats/property_list.h"
#include "support/icon_fixtures.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

TEST(AppIcon, UsesTheNamedFileElseAppIconScaledTo64WithTransparentEdgesUndarkened) {
  TempTree tree;
  const Rgba named{0, 200, 0, 255}, fallback{200, 0, 0, 255}, png{0, 0, 200, 255};
  const std::pair<std::optional<std::string>, std::optional<Rgba>> cases[] = {{"Icon", named},
      {"Icon.icns", named}, {"Logo.png", png}, {"Missing", fallback}, {"", fallback},
      {std::nullopt, fallback}, {"Pipe", fallback},  // a FIFO is never opened for reading
      {"Broken", std::nullopt}};                     // holds no image: no fallback
  tree.write("B.app/Contents/Resources/Icon.icns", icnsFile({{"ic07", solidPng(128, named)}}));
  tree.write("B.app/Contents/Resources/AppIcon.icns", icnsFile({{"ic12", solidPng(64, fallback)}}));
  // Opaque on the left, transparent black on the right.
  tree.write("B.app/Contents/Resources/Logo.png", pngFile(128, 128, [&](uint32_t x, uint32_t) {
    return x < 64 ? png : Rgba{0, 0, 0, 0};
  }));
  tree.write("B.app/Contents/Resources/Broken.icns", std::string("icns\0\0\0\x09x", 9));
  ASSERT_EQ(::mkfifo(tree.path("B.app/Contents/Resources/Pipe.icns").c_str(), 0644), 0);
  for (const auto& [key, colour] : cases) {
    SCOPED_TRACE(key.value_or("(no key)"));
    const std::string info = tree.write("B.app/Contents/Info.plist",
        "<plist><dict>" + (key ? "<key>CFBundleIconFile</key><string>" + *key + "</string>" : "") +
            "</dict></plist>");
    const std::string icon =
        bundleIconBase64(tree.path("B.app"), PropertyList::readDictionary(info));
    ASSERT_EQ(icon.empty(), !colour);
    if (!colour) continue;
    EXPECT_EQ(icon.find_first_of("\r\n"), std::string::npos);
    const std::optional<RgbaImage> image = decodePng(bytesOf(fromBase64(icon)));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width * image->height, 64u * 64);
    EXPECT_EQ(pixelAt(*image, 20, 40), *colour);
    // Scaled with colours weighted by alpha: the transparent half stays transparent and lends
    // its black to no edge pixel.
    for (uint32_t x = 0; colour == png && x < 64; ++x) {
      const Rgba p = pixelAt(*image, x, 10);
      EXPECT_EQ(p.a, x >= 34 ? 0 : x <= 29 ? 255 : p.a) << x;
      EXPECT_TRUE(p.a == 0 || (p.r < 6 && p.g < 6 && p.b >= 194)) << x;
    }
  }
}

}  // namespace
}  // namespace nimbra::test
