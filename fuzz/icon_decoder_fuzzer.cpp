// Feeds arbitrary bytes to the icon decoder as if they were a bundle's icon file. Whatever it
// answers must be a well-formed image within the size limits, and a small one must scale to
// 64 x 64 and encode as PNG again; whatever it refuses must be refused without a fault.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "ops/apps/app_icon.h"
#include "platform/formats/icon_decoder.h"
#include "platform/formats/png_codec.h"

namespace {

[[noreturn]] void fault(const char* what) {
  std::fprintf(stderr, "icon fault: %s\n", what);
  std::abort();
}

// Scaling a large image costs milliseconds; the decoding is what is under test.
constexpr uint64_t kScaledPixelsAtMost = 256 * 256;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nimbra;
  const std::optional<RgbaImage> image = decodeIcon(std::span(data, size));
  if (!image) return 0;
  if (!acceptableIconSize(image->width, image->height)) fault("an image beyond the size limits");
  if (image->pixels.size() != uint64_t{image->width} * image->height * 4) fault("pixels do not fill the image");
  if (uint64_t{image->width} * image->height > kScaledPixelsAtMost) return 0;
  const std::optional<RgbaImage> scaled = scaledToIconSide(*image);
  if (!scaled || scaled->width != kIconSide || scaled->pixels.size() != kIconSide * kIconSide * 4) {
    fault("a decoded image does not scale");
  }
  const std::optional<std::string> png = encodePng(*scaled);
  if (!png || !decodePng(std::span(reinterpret_cast<const uint8_t*>(png->data()), png->size()))) {
    fault("a scaled icon does not encode and decode again");
  }
  return 0;
}
