#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "apps/app_icon.h"
#include "apps/icon_decoder.h"
#include "apps/icon_fixtures.h"
#include "apps/png_codec.h"
#include "platform/property_list.h"
#include "support/temp_tree.h"

namespace nimbra {
namespace {

using test::icnsFile;
using test::Rgba;
using test::solidPng;
using test::TempTree;

std::optional<RgbaImage> decoded(const std::string& file) {
  return decodeIcon(std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
}

Rgba pixelAt(const RgbaImage& image, uint32_t x, uint32_t y) {
  const uint8_t* p = &image.pixels[(size_t{y} * image.width + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

// A solid square whose colour tells its size apart from the others of one container.
std::string sizedPng(uint32_t side) { return solidPng(side, {static_cast<uint8_t>(side % 251), 7, 9, 255}); }

constexpr const char* kJpeg2000 = "\0\0\0\x0cjP  \r\n\x87\n";

TEST(IconDecoder, TakesTheSmallestPngAtLeast64WideElseTheLargestAndNothingElse) {
  const std::string jpeg2000(kJpeg2000, 12);
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> entries;
    uint32_t width;  // 0: no image
  };
  const Case cases[] = {
      {"smallest at least 64", {{"ic08", sizedPng(256)}, {"ic11", sizedPng(32)}, {"ic07", sizedPng(128)}}, 128},
      {"exactly 64 wins", {{"ic10", sizedPng(1024)}, {"icp6", sizedPng(64)}, {"ic09", sizedPng(512)}}, 64},
      // The entry's own width decides, not its kind's nominal size.
      {"own width", {{"ic07", sizedPng(100)}, {"ic08", sizedPng(80)}}, 80},
      {"none that large: the largest", {{"icp4", sizedPng(16)}, {"ic11", sizedPng(32)}}, 32},
      {"JPEG 2000 skipped", {{"ic10", jpeg2000}, {"icp5", sizedPng(32)}}, 32},
      {"JPEG 2000 only", {{"ic10", jpeg2000}, {"TOC ", "toc."}}, 0},
      {"no image entries", {{"icnV", "1234"}}, 0},
      {"PNG data in an unknown kind", {{"zzzz", sizedPng(64)}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<RgbaImage> image = decoded(icnsFile(c.entries));
    ASSERT_EQ(image.has_value(), c.width != 0);
    if (!image) continue;
    EXPECT_EQ(image->width, c.width);
    EXPECT_EQ(pixelAt(*image, 0, 0), (Rgba{static_cast<uint8_t>(c.width % 251), 7, 9, 255}));
  }
  // An icon file that is a PNG itself, whatever its name.
  ASSERT_TRUE(decoded(sizedPng(48)));
  EXPECT_EQ(decoded(sizedPng(48))->width, 48u);
}

TEST(IconDecoder, UnpacksTheLargestPackedRgbWithItsMaskOrOpaque) {
  const auto pattern = [](uint32_t x, uint32_t y) {
    return x < 16 ? Rgba{255, 0, 0, 255} : Rgba{static_cast<uint8_t>(x * 7), static_cast<uint8_t>(y * 5), 200,
                                                static_cast<uint8_t>(x + y)};
  };
  const auto [rgb32, mask32] = test::packedRgb(32, pattern);
  const auto [rgb16, mask16] = test::packedRgb(16, [](uint32_t, uint32_t) { return Rgba{1, 2, 3, 4}; });
  const auto [rgb128, mask128] = test::packedRgb(128, pattern);
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> entries;
    uint32_t side;
    bool masked;
  };
  const Case cases[] = {
      {"il32 over is32", {{"is32", rgb16}, {"s8mk", mask16}, {"il32", rgb32}, {"l8mk", mask32}}, 32, true},
      {"no mask: opaque", {{"il32", rgb32}}, 32, false},
      {"mask of the wrong length: opaque", {{"il32", rgb32}, {"l8mk", mask16}}, 32, false},
      {"it32 after its four zero bytes", {{"it32", std::string(4, '\0') + rgb128}, {"t8mk", mask128}}, 128, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<RgbaImage> image = decoded(icnsFile(c.entries));
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, c.side);
    ASSERT_EQ(image->height, c.side);
    for (uint32_t y = 0; y < c.side; y += 3) {
      for (uint32_t x = 0; x < c.side; x += 3) {
        Rgba want = pattern(x, y);
        if (!c.masked) want.a = 255;
        ASSERT_EQ(pixelAt(*image, x, y), want) << x << "," << y;
      }
    }
  }
}

TEST(IconDecoder, RefusesLyingContainersAndImagesItCannotOrMayNotDecode) {
  const std::string good = icnsFile({{"ic07", sizedPng(128)}});
  ASSERT_TRUE(decoded(good));
  std::string longer = good;  // the header claims one byte more than there is
  longer[7] = static_cast<char>(longer[7] + 1);
  std::string shortEntry = icnsFile({{"ic07", sizedPng(128)}, {"ic08", ""}});
  shortEntry.replace(shortEntry.size() - 4, 4, test::bigEndian32(7));  // an entry below its own header
  std::string pastEnd = icnsFile({{"ic07", sizedPng(128)}, {"ic08", "abcd"}});
  pastEnd.replace(pastEnd.size() - 8, 4, test::bigEndian32(13));  // reaches past the container
  const std::string pngBody = sizedPng(64);
  const auto [rgb16, mask16] = test::packedRgb(16, [](uint32_t x, uint32_t) { return Rgba{uint8_t(x), 0, 0, 0}; });
  const std::string overshoot = std::string("\x81\x01") + rgb16.substr(0, rgb16.size());  // one run too many
  const std::string cases[] = {
      "",
      "icns",
      longer,
      good.substr(0, good.size() - 1),
      "icns" + test::bigEndian32(4),
      good + "icns",  // trailing bytes beyond the declared length are outside the container, fine
      shortEntry,
      pastEnd,
      icnsFile({{"ic07", pngBody.substr(0, pngBody.size() / 2)}}),  // a PNG cut short
      icnsFile({{"ic07", std::string(reinterpret_cast<const char*>(kPngSignature), 8) + "garbage"}}),
      test::pngFile(4097, 1, [](uint32_t, uint32_t) { return Rgba{0, 0, 0, 255}; }),
      icnsFile({{"is32", rgb16.substr(0, rgb16.size() - 1)}}),  // a plane cut short
      icnsFile({{"is32", overshoot}}),
      icnsFile({{"it32", "\0\0"}}),
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(decoded(cases[i]).has_value(), i == 5) << "case " << i;
  }
  const std::optional<RgbaImage> widest =
      decoded(test::pngFile(4096, 1, [](uint32_t, uint32_t) { return Rgba{0, 0, 0, 255}; }));
  ASSERT_TRUE(widest);
  EXPECT_EQ(widest->width, 4096u);
}

TEST(AppIcon, ScalesTo64KeepingTransparentEdgesTransparentAndUndarkened) {
  // Opaque white on the left, fully transparent black on the right.
  const std::string file = test::pngFile(
      128, 128, [](uint32_t x, uint32_t) { return x < 64 ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 0, 0}; });
  const std::optional<RgbaImage> source = decoded(file);
  ASSERT_TRUE(source);
  const std::optional<RgbaImage> scaled = scaledToIconSide(*source);
  ASSERT_TRUE(scaled);
  ASSERT_EQ(scaled->pixels.size(), 64u * 64 * 4);
  for (uint32_t y = 0; y < 64; ++y) {
    for (uint32_t x = 0; x < 64; ++x) {
      const Rgba p = pixelAt(*scaled, x, y);
      const int wantAlpha = x >= 34 ? 0 : x <= 29 ? 255 : p.a;
      EXPECT_EQ(p.a, wantAlpha) << x;
      // Black under alpha 0 must not bleed into the edge's colour.
      EXPECT_GE(p.a > 0 ? std::min({p.r, p.g, p.b}) : 255, 250) << x << "," << y;
    }
  }
}

TEST(AppIcon, FindsTheNamedFileOrTheDefaultAndEncodesA64PixelPng) {
  TempTree tree;
  const Rgba named{0, 200, 0, 255}, fallback{200, 0, 0, 255}, png{0, 0, 200, 255};
  struct Case {
    const char* what;
    std::optional<std::string> key;  // CFBundleIconFile, when present
    std::optional<Rgba> colour;      // nullopt: ""
  };
  const Case cases[] = {
      {"name without extension", "Icon", named},
      {"name with extension", "Icon.icns", named},
      {"a PNG file by any name", "Logo.png", png},
      {"named file missing", "Missing", fallback},
      {"key empty", "", fallback},
      {"key absent", std::nullopt, fallback},
      {"named file is a FIFO: never opened for reading", "Pipe", fallback},
      {"named file holds no image: no fallback", "Broken", std::nullopt},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bundle = "B" + std::to_string(n++) + ".app";
    tree.write(bundle + "/Contents/Resources/Icon.icns", icnsFile({{"ic07", solidPng(128, named)}}));
    tree.write(bundle + "/Contents/Resources/AppIcon.icns", icnsFile({{"ic12", solidPng(64, fallback)}}));
    tree.write(bundle + "/Contents/Resources/Logo.png", solidPng(16, png));
    tree.write(bundle + "/Contents/Resources/Broken.icns", std::string("icns\0\0\0\x09x", 9));
    ASSERT_EQ(::mkfifo(tree.path(bundle + "/Contents/Resources/Pipe.icns").c_str(), 0644), 0);
    tree.write(bundle + "/Contents/Info.plist",
               std::string("<plist version=\"1.0\"><dict>") +
                   (c.key ? "<key>CFBundleIconFile</key><string>" + *c.key + "</string>" : "") + "</dict></plist>");
    const std::string icon = bundleIconBase64(tree.path(bundle), PropertyList::readDictionary(tree.path(bundle + "/Contents/Info.plist")));
    if (!c.colour) {
      EXPECT_EQ(icon, "");
      continue;
    }
    EXPECT_EQ(icon.find_first_of("\r\n"), std::string::npos);
    const std::string file = test::fromBase64(icon);
    const std::optional<RgbaImage> image = decodePng(std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 64u);
    EXPECT_EQ(image->height, 64u);
    EXPECT_EQ(pixelAt(*image, 40, 40), *c.colour);
  }
  EXPECT_EQ(bundleIconBase64(tree.path("Nothing.app"), std::nullopt), "");
}

}  // namespace
}  // namespace nimbra
