#pragma once

// Icon files built in the tests: PNGs written by libpng itself, icns containers assembled
// entry by entry, and the classic run-length packing of RGB planes.

#include <openssl/evp.h>
#include <png.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace nimbra::test {

struct Rgba {
  uint8_t r, g, b, a;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};

inline std::string pngFile(uint32_t width, uint32_t height, const std::function<Rgba(uint32_t, uint32_t)>& pixel) {
  std::vector<uint8_t> pixels;
  pixels.reserve(size_t{width} * height * 4);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const Rgba p = pixel(x, y);
      pixels.insert(pixels.end(), {p.r, p.g, p.b, p.a});
    }
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

inline std::string bigEndian32(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

// An icns container of the given (type, data) entries, lengths as the format counts them.
inline std::string icnsFile(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string body;
  for (const auto& [type, data] : entries) body += type + bigEndian32(static_cast<uint32_t>(data.size() + 8)) + data;
  return "icns" + bigEndian32(static_cast<uint32_t>(body.size() + 8)) + body;
}

// One plane in the classic packing: runs of 3 or more equal bytes as a repeat, the rest literal.
inline std::string packPlane(const std::vector<uint8_t>& plane) {
  std::string packed;
  std::string literal;
  auto flush = [&] {
    for (size_t at = 0; at < literal.size(); at += 128) {
      const std::string piece = literal.substr(at, 128);
      packed += static_cast<char>(piece.size() - 1);
      packed += piece;
    }
    literal.clear();
  };
  for (size_t i = 0; i < plane.size();) {
    size_t run = 1;
    while (i + run < plane.size() && run < 130 && plane[i + run] == plane[i]) ++run;
    if (run >= 3) {
      flush();
      packed += static_cast<char>(0x80 + run - 3);
      packed += static_cast<char>(plane[i]);
    } else {
      literal.append(run, static_cast<char>(plane[i]));
    }
    i += run;
  }
  flush();
  return packed;
}

// The packed RGB data and the 8-bit mask of a side x side image.
inline std::pair<std::string, std::string> packedRgb(uint32_t side, const std::function<Rgba(uint32_t, uint32_t)>& pixel) {
  std::vector<uint8_t> planes[3];
  std::string mask;
  for (uint32_t y = 0; y < side; ++y) {
    for (uint32_t x = 0; x < side; ++x) {
      const Rgba p = pixel(x, y);
      planes[0].push_back(p.r);
      planes[1].push_back(p.g);
      planes[2].push_back(p.b);
      mask += static_cast<char>(p.a);
    }
  }
  return {packPlane(planes[0]) + packPlane(planes[1]) + packPlane(planes[2]), mask};
}

inline std::string fromBase64(const std::string& text) {
  std::string bytes(text.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                     reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (length < 0) return "";
  size_t padding = 0;
  for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) ++padding;
  bytes.resize(static_cast<size_t>(length) - padding);
  return bytes;
}

}  // namespace nimbra::test
