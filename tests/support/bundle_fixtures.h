#pragma once

// Application bundles built for real in a temporary folder, with an information file written
// by libplist in either format.

#include <plist/plist.h>

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "support/temp_tree.h"

namespace nimbra::test {

enum class PlistFormat { xml, binary };

// One information file entry; an integer stands for a value of the wrong type.
using InfoEntry = std::pair<std::string, std::variant<std::string, int64_t>>;

// A bundle at `relative` of `size` bytes in all: the information file (none when `entries` is
// empty) and Contents/MacOS/main for the rest. Answers the bundle's path.
inline std::string makeBundle(const TempTree& tree, const std::string& relative,
    const std::vector<InfoEntry>& entries, int64_t size, PlistFormat format = PlistFormat::xml) {
  std::string info;
  if (!entries.empty()) {
    plist_t dict = plist_new_dict();
    for (const auto& [key, value] : entries) {
      const auto* text = std::get_if<std::string>(&value);
      plist_dict_set_item(
          dict, key.c_str(), text ? plist_new_string(text->c_str()) : plist_new_uint(1));
    }
    char* bytes = nullptr;
    uint32_t length = 0;
    format == PlistFormat::xml ? plist_to_xml(dict, &bytes, &length)
                               : plist_to_bin(dict, &bytes, &length);
    info.assign(bytes, length);
    format == PlistFormat::xml ? plist_to_xml_free(bytes) : plist_to_bin_free(bytes);
    plist_free(dict);
    tree.write(relative + "/Contents/Info.plist", info);
  }
  tree.touch(relative + "/Contents/MacOS/main", size - static_cast<int64_t>(info.size()));
  return tree.path(relative);
}

}  // namespace nimbra::test
