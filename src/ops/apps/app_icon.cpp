#include "ops/apps/app_icon.h"

#include <openssl/evp.h>
#include <stb_image_resize.h>

#include <span>

#include "platform/formats/icon_decoder.h"
#include "platform/formats/png_codec.h"
#include "platform/formats/property_list.h"
#include "platform/fs/small_file.h"

namespace nimbra {
namespace {

constexpr const char* kIconKey = "CFBundleIconFile";
constexpr const char* kDefaultIcon = "AppIcon.icns";
constexpr const char* kIcnsExtension = ".icns";

// The named icon file, or the default one when the name is missing or names no readable file.
// A file that exists but holds no image is not replaced by the default.
std::optional<std::string> iconFileBytes(const std::string& bundlePath,
                                         const std::optional<PropertyList>& info) {
  const std::string resources = bundlePath + "/Contents/Resources/";
  std::optional<std::string> named = info ? info->string(kIconKey) : std::nullopt;
  if (named && !named->empty()) {
    const size_t dot = named->rfind('.');
    if (dot == std::string::npos || dot == 0) *named += kIcnsExtension;
    if (std::optional<std::string> bytes = readSmallFile(resources + *named, kMaxIconFileBytes))
      return bytes;
  }
  return readSmallFile(resources + kDefaultIcon, kMaxIconFileBytes);
}

std::string base64(const std::string& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                     reinterpret_cast<const unsigned char*>(bytes.data()),
                                     static_cast<int>(bytes.size()));
  text.resize(static_cast<size_t>(length));
  return text;
}

}  // namespace

std::optional<RgbaImage> scaledToIconSide(const RgbaImage& image) {
  constexpr int kChannels = 4;
  constexpr int kAlphaChannel = 3;
  RgbaImage scaled{kIconSide, kIconSide,
                   std::vector<uint8_t>(size_t{kIconSide} * kIconSide * kChannels)};
  // Filtered in linear light; without STBIR_FLAG_ALPHA_PREMULTIPLIED the resizer weights
  // colours by alpha (premultiplies, filters, divides back).
  if (!stbir_resize_uint8_srgb(image.pixels.data(), static_cast<int>(image.width),
                               static_cast<int>(image.height), 0, scaled.pixels.data(), kIconSide,
                               kIconSide, 0, kChannels, kAlphaChannel, 0)) {
    return std::nullopt;
  }
  return scaled;
}

std::string bundleIconBase64(const std::string& bundlePath,
                             const std::optional<PropertyList>& info) {
  const std::optional<std::string> file = iconFileBytes(bundlePath, info);
  if (!file) return "";
  const std::optional<RgbaImage> image =
      decodeIcon(std::span(reinterpret_cast<const uint8_t*>(file->data()), file->size()));
  if (!image) return "";
  const std::optional<RgbaImage> scaled = scaledToIconSide(*image);
  if (!scaled) return "";
  const std::optional<std::string> png = encodePng(*scaled);
  return png ? base64(*png) : "";
}

}  // namespace nimbra
