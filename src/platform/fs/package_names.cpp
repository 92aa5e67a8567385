#include "platform/fs/package_names.h"

#include <algorithm>
#include <cctype>

namespace nimbra {

bool isPackageName(std::string_view name) {
  static constexpr std::string_view kExtensions[] = {
      ".app",         ".bundle",     ".framework",     ".plugin",      ".kext",
      ".appex",       ".xpc",        ".prefpane",      ".qlgenerator", ".mdimporter",
      ".saver",       ".dsym",       ".photoslibrary", ".rtfd",        ".xcodeproj",
      ".xcworkspace", ".playground", ".sparsebundle",  ".pages",       ".numbers",
      ".key",         ".logicx",     ".band",          ".fcpbundle",   ".imovielibrary"};
  for (std::string_view extension : kExtensions) {
    if (name.size() < extension.size()) continue;
    std::string_view tail = name.substr(name.size() - extension.size());
    bool same = std::equal(tail.begin(), tail.end(), extension.begin(), [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) == b;
    });
    if (same) return true;
  }
  return false;
}

}  // namespace nimbra
