#pragma once

// The image an icon file holds: the file itself when it is a PNG (by signature, whatever its
// name), else one image of its icns container:
// - a PNG-coded entry when there is one: the smallest whose own width is at least 64 px,
//   else the largest;
// - otherwise the largest classic packed RGB entry (run-length packed channels) with its 8-bit
//   mask, opaque where the mask is missing.
// The input is untrusted: a container whose header or any entry length points past its end,
// or below an entry header, is refused whole; nothing is read outside `bytes`; images of size
// 0 or beyond kMaxIconSide are refused. JPEG 2000 entries are not decoded.

#include <cstdint>
#include <optional>
#include <span>

#include "platform/formats/rgba_image.h"

namespace nimbra {

// Icon files are at most a few MiB (an icns with every size up to 1024 px measures 2-5 MiB);
// a larger file is no icon and is not read.
inline constexpr size_t kMaxIconFileBytes = 32 << 20;

// The edge of the icon the interface shows.
inline constexpr uint32_t kIconSide = 64;

std::optional<RgbaImage> decodeIcon(std::span<const uint8_t> bytes);

}  // namespace nimbra
