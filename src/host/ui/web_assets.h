#pragma once

// The browser interface's files (web/), built into the program: the server answers from these
// and never from the file system, so no request can reach a file that is not one of them.
// The table is generated at build time (scripts/embed_web.cmake).

#include <cstdint>
#include <span>
#include <string_view>

namespace nimbra {

struct WebAsset {
  std::string_view path;  // as a request names it: "/", "/index.html", "/js/main.js"
  std::string_view contentType;
  std::span<const uint8_t> bytes;
};

// Every asset, "/" (the same bytes as "/index.html") included; static storage.
std::span<const WebAsset> webAssets();

// The asset whose path is exactly `path`, or nullptr. Nothing is decoded or normalised:
// "/js/../index.html", "//index.html", "/index.html?x" and "/INDEX.HTML" name no asset.
inline const WebAsset* findWebAsset(std::string_view path) {
  for (const WebAsset& asset : webAssets()) {
    if (asset.path == path) return &asset;
  }
  return nullptr;
}

}  // namespace nimbra
