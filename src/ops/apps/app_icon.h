#pragma once

#include <optional>
#include <string>

#include "platform/formats/rgba_image.h"

namespace nimbra {

class PropertyList;

// The bundle's icon as the interface shows it: a 64 x 64 RGBA PNG in Base64 without line
// breaks; "" when there is no icon file or it yields no image. The file is the one its
// information file names under "CFBundleIconFile" in Contents/Resources (".icns" added to a
// name without extension), else Contents/Resources/AppIcon.icns.
std::string bundleIconBase64(const std::string& bundlePath,
                             const std::optional<PropertyList>& info);

// Scaled to 64 x 64 (stretched like a drawing into a 64 x 64 rectangle), alpha premultiplied
// while filtering so transparent pixels lend no colour to their neighbours.
std::optional<RgbaImage> scaledToIconSide(const RgbaImage& image);

}  // namespace nimbra
