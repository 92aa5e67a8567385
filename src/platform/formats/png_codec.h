#pragma once

// PNG through libpng's simplified interface, which reads from memory with every length
// checked and reports a damaged stream as a failure rather than a crash.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/formats/rgba_image.h"

namespace nimbra {

inline constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

bool startsWithPngSignature(std::span<const uint8_t> bytes);

// The width its header chunk declares, without decoding; nullopt when there is no header.
std::optional<uint32_t> pngDeclaredWidth(std::span<const uint8_t> bytes);

// Decoded to 8-bit RGBA; nullopt when it does not decode or its size is 0 or beyond
// kMaxIconSide on either side (checked before any pixel memory is taken).
std::optional<RgbaImage> decodePng(std::span<const uint8_t> bytes);

// The image as an 8-bit RGBA PNG file; nullopt when libpng refuses.
std::optional<std::string> encodePng(const RgbaImage& image);

}  // namespace nimbra
