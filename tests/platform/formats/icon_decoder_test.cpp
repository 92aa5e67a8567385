#include "platform/formats/icon_decoder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/formats/png_codec.h"
#include "support/icon_fixtures.h"

namespace nimbra::test {
namespace {

// A solid square whose colour tells its size apart from the others of one container.
Rgba colourOf(uint32_t side) { return {static_cast<uint8_t>(side % 251), 7, 9, 255}; }
std::string sizedPng(uint32_t side) { return solidPng(side, colourOf(side)); }

// Width 0: no image. A container that lies about a length is refused whole, and nothing is
// made of an image that cannot or may not be decoded.
TEST(IconDecoder,
    TakesTheSmallestPngAtLeast64WideElseTheLargestElseThePackedRgbAndRefusesLyingContainers) {
  const std::string jpeg2000("\0\0\0\x0cjP  \r\n\x87\n", 12);
  const auto pattern = [](uint32_t x, uint32_t y) {
    return Rgba{static_cast<uint8_t>(x < 16 ? 255 : x * 7), static_cast<uint8_t>(y / 4), 200,
        static_cast<uint8_t>(x + y)};
  };
  const auto [rgb32, mask32] = packedRgb(32, pattern);
  const auto [rgb16, mask16] = packedRgb(16, pattern);
  const auto [rgb128, mask128] = packedRgb(128, pattern);
  const std::string good = icnsFile({{"ic07", sizedPng(128)}});
  const auto patched = [](std::string file, size_t at, uint32_t value) {
    return file.replace(at, 4, bigEndian32(value));
  };
  const std::string png = sizedPng(64);
  const auto wide = [](uint32_t width) {
    return pngFile(width, 1, [](uint32_t, uint32_t) { return Rgba{0, 0, 0, 255}; });
  };
  // An image `width` wide (0: none) showing the pattern when packed, else a size's colour.
  struct Case {
    const char* what;
    std::string file;
    uint32_t width;
    bool packed = false, masked = true;
  };
  const Case cases[] = {
      {"smallest at least 64",
          icnsFile({{"ic08", sizedPng(256)}, {"ic11", sizedPng(32)}, {"ic07", sizedPng(128)}}),
          128},
      {"exactly 64",
          icnsFile({{"ic10", sizedPng(1024)}, {"icp6", sizedPng(64)}, {"ic09", sizedPng(512)}}),
          64},
      {"own width decides", icnsFile({{"ic07", sizedPng(100)}, {"ic08", sizedPng(80)}}), 80},
      {"none that large: the largest", icnsFile({{"icp4", sizedPng(16)}, {"ic11", sizedPng(32)}}),
          32},
      {"JPEG 2000 skipped", icnsFile({{"ic10", jpeg2000}, {"icp5", sizedPng(32)}, {"il32", rgb32}}),
          32},
      {"PNG data in an unknown kind", icnsFile({{"zzzz", sizedPng(64)}}), 0},
      {"largest packed, masked",
          icnsFile({{"is32", rgb16}, {"s8mk", mask16}, {"il32", rgb32}, {"l8mk", mask32}}), 32,
          true},
      {"no mask: opaque", icnsFile({{"il32", rgb32}, {"l8mk", mask16}}), 32, true, false},
      {"it32 after four zero bytes",
          icnsFile({{"it32", std::string(4, '\0') + rgb128}, {"t8mk", mask128}}), 128, true},
      {"bytes after the declared length", good + "trailing", 128}, {"no header", "icns", 0},
      {"shorter than its header", "icns" + bigEndian32(4), 0},
      {"claims more than there is", good.substr(0, good.size() - 1), 0},
      {"half an entry header",
          patched(good + "ic08" + bigEndian32(8), 4, static_cast<uint32_t>(good.size() + 4)), 0},
      {"an entry below its header",
          patched(icnsFile({{"ic07", png}, {"ic08", ""}}), 8 + 8 + png.size() + 4, 7), 0},
      {"past the end: no partial use",
          patched(icnsFile({{"ic07", png}, {"ic08", "abcd"}}), 8 + 8 + png.size() + 4, 13), 0},
      {"PNG cut short", icnsFile({{"ic07", png.substr(0, png.size() / 2)}}), 0},
      {"PNG signature, then garbage",
          icnsFile(
              {{"ic07", std::string(reinterpret_cast<const char*>(kPngSignature), 8) + "garbage"}}),
          0},
      {"too wide", wide(4097), 0},
      {"a plane cut short", icnsFile({{"is32", rgb16.substr(0, rgb16.size() - 1)}}), 0},
      {"a run past the plane's end", icnsFile({{"is32", "\x81\x01" + rgb16}}), 0},
      {"it32 shorter than its zero bytes", icnsFile({{"it32", "\0\0"}}), 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<RgbaImage> image = decodeIcon(bytesOf(c.file));
    ASSERT_EQ(image.has_value(), c.width != 0);
    if (!image) continue;
    ASSERT_EQ(std::pair(image->width, image->height), std::pair(c.width, c.width));
    for (uint32_t y = 0; y < c.width; y += 5) {
      for (uint32_t x = 0; x < c.width; x += 3) {
        Rgba want = c.packed ? pattern(x, y) : colourOf(c.width);
        if (!c.masked) want.a = 255;
        ASSERT_EQ(pixelAt(*image, x, y), want) << x << "," << y;
      }
    }
  }
  EXPECT_TRUE(decodeIcon(bytesOf(wide(4096))));
}

}  // namespace
}  // namespace nimbra::test
