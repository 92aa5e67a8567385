#include "platform/fs/package_names.h"

#include <algorithm>
#include <iterator>

namespace nimbra {

bool isPackageName(std::string_view name) {
  static constexpr std::string_view kExtensions[] = {
      ".app",         ".bundle",     ".framework",     ".plugin",      ".kext",
      ".appex",       ".xpc",        ".prefpane",      ".qlgenerator", ".mdimporter",
      ".saver",       ".dsym",       ".photoslibrary", ".rtfd",        ".xcodeproj",
      ".xcworkspace", ".playground", ".sparsebundle",  ".pages",       ".numbers",
      ".key",         ".logicx",     ".band",          ".fcpbundle",   ".imovielibrary"};
  // No extension holds a second dot, so a name ends in one exactly when what follows its last
  // dot is one: every walk asks this of every folder, and most folder names have no dot.
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view tail = name.substr(dot);
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return std::any_of(std::begin(kExtensions), std::end(kExtensions),
                     [&](std::string_view extension) {
                       return tail.size() == extension.size() &&
                              std::equal(tail.begin(), tail.end(), extension.begin(),
                                         [&](char a, char b) { return lower(a) == b; });
                     });
}

}  // namespace nimbra
