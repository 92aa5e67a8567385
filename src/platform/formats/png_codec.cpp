#include "platform/formats/png_codec.h"

#include <png.h>

#include <algorithm>
#include <cstring>

namespace nimbra {
namespace {

uint32_t bigEndian32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

}  // namespace

bool startsWithPngSignature(std::span<const uint8_t> bytes) {
  return bytes.size() >= sizeof kPngSignature &&
         std::equal(std::begin(kPngSignature), std::end(kPngSignature), bytes.begin());
}

std::optional<uint32_t> pngDeclaredWidth(std::span<const uint8_t> bytes) {
  // Signature, then the first chunk: length, "IHDR", width, height ...
  constexpr size_t kWidthAt = 16;
  if (!startsWithPngSignature(bytes) || bytes.size() < kWidthAt + 4 ||
      std::memcmp(bytes.data() + 12, "IHDR", 4) != 0) {
    return std::nullopt;
  }
  return bigEndian32(bytes.data() + kWidthAt);
}

std::optional<RgbaImage> decodePng(std::span<const uint8_t> bytes) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) return std::nullopt;
  if (!acceptableIconSize(png.width, png.height)) {
    png_image_free(&png);
    return std::nullopt;
  }
  png.format = PNG_FORMAT_RGBA;
  RgbaImage image{png.width, png.height, std::vector<uint8_t>(PNG_IMAGE_SIZE(png))};
  if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
    png_image_free(&png);
    return std::nullopt;
  }
  return image;
}

std::optional<std::string> encodePng(const RgbaImage& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = image.width;
  png.height = image.height;
  png.format = PNG_FORMAT_RGBA;
  // Compressed once, into a buffer of the largest size it can take (asking for the size first
  // compresses twice), and with the fast settings: a 64 px icon is a few KiB either way, and
  // deflate at the default level was most of the icon's cost (about 2 ms of 2.5 per bundle).
  png.flags = PNG_IMAGE_FLAG_FAST;
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(png);
  std::string file(size, '\0');
  if (!png_image_write_to_memory(&png, file.data(), &size, 0, image.pixels.data(), 0, nullptr)) {
    return std::nullopt;
  }
  file.resize(size);
  return file;
}

}  // namespace nimbra
