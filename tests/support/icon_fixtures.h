#pragma once

// Icon files built in the tests: PNGs written by libpng itself, icns containers assembled
// entry by entry, and RGB planes in the classic run-length packing.

#include <openssl/evp.h>
#include <png.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/formats/rgba_image.h"

namespace nimbra::test {

struct Rgba {
  uint8_t r, g, b, a;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};
using PixelAt = std::function<Rgba(uint32_t x, uint32_t y)>;

inline std::string pngFile(uint32_t width, uint32_t height, const PixelAt& pixel) {
  std::vector<Rgba> pixels;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) pixels.push_back(pixel(x, y));
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
  std::string file(size, '\0');
  png_image_write_to_memory(&image, file.data(), &size, 0, pixels.data(), 0, nullptr);
  return file;
}

inline std::string solidPng(uint32_t side, Rgba colour) {
  return pngFile(side, side, [&](uint32_t, uint32_t) { return colour; });
}

inline std::string bigEndian32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
      static_cast<char>(v)};
}

inline std::string icnsFile(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string body;
  for (const auto& [type, data] : entries)
    body += type + bigEndian32(static_cast<uint32_t>(data.size() + 8)) + data;
  return "icns" + bigEndian32(static_cast<uint32_t>(body.size() + 8)) + body;
}

// Packed RGB planes (3 or more equal bytes as one repeat, other bytes as 1-byte literals) and
// the 8-bit mask of a side x side image.
inline std::pair<std::string, std::string> packedRgb(uint32_t side, const PixelAt& pixel) {
  std::string packed, mask;
  for (int channel = 0; channel < 4; ++channel) {
    std::string plane;
    for (uint32_t i = 0; i < side * side; ++i) {
      const Rgba p = pixel(i % side, i / side);
      plane += static_cast<char>(channel == 0   ? p.r
                                 : channel == 1 ? p.g
                                 : channel == 2 ? p.b
                                                : p.a);
    }
    if (channel == 3) mask = plane;
    for (size_t i = 0, run = 1; channel < 3 && i < plane.size(); i += run, run = 1) {
      while (i + run < plane.size() && run < 130 && plane[i + run] == plane[i]) ++run;
      if (run < 3) run = 1;
      packed += run < 3 ? std::string(1, '\0') + plane[i]
                        : std::string(1, static_cast<char>(0x80 + run - 3)) + plane[i];
    }
  }
  return {packed, mask};
}

inline std::string fromBase64(const std::string& text) {
  std::string bytes(text.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
      reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  const size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
  bytes.resize(length < 0 ? 0 : static_cast<size_t>(length) - padding);
  return bytes;
}

inline std::span<const uint8_t> bytesOf(const std::string& file) {
  return {reinterpret_cast<const uint8_t*>(file.data()), file.size()};
}

inline Rgba pixelAt(const RgbaImage& image, uint32_t x, uint32_t y) {
  const uint8_t* p = &image.pixels[(size_t{y} * image.width + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

}  // namespace nimbra::test
