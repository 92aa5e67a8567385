#pragma once

#include <cstdint>
#include <vector>

namespace nimbra {

// An image as 8-bit RGBA rows, straight (not premultiplied) alpha, no padding.
struct RgbaImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;  // width * height * 4 bytes
};

// Icons come from files anyone can put in a bundle: nothing larger is decoded (an icon
// image is at most 1024 x 1024; 4096 x 4096 RGBA is 64 MiB, the most one icon may cost).
inline constexpr uint32_t kMaxIconSide = 4096;

inline bool acceptableIconSize(uint64_t width, uint64_t height) {
  return width > 0 && height > 0 && width <= kMaxIconSide && height <= kMaxIconSide;
}

}  // namespace nimbra
