#pragma once

// Application bundles built for real in a temporary folder: an information file written by
// libplist in either format, and payload files that give the bundle a known size.

#include <plist/plist.h>

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "support/temp_tree.h"

namespace nimbra::test {

enum class PlistFormat { xml, binary };

// One information file entry; an int64_t value stands for "a key of the wrong type".
using InfoEntry = std::pair<std::string, std::variant<std::string, int64_t>>;

inline std::string infoPlist(const std::vector<InfoEntry>& entries, PlistFormat format) {
  plist_t dict = plist_new_dict();
  for (const auto& [key, value] : entries) {
    plist_dict_set_item(dict, key.c_str(),
                        std::holds_alternative<std::string>(value)
                            ? plist_new_string(std::get<std::string>(value).c_str())
                            : plist_new_uint(static_cast<uint64_t>(std::get<int64_t>(value))));
  }
  char* bytes = nullptr;
  uint32_t length = 0;
  format == PlistFormat::xml ? plist_to_xml(dict, &bytes, &length) : plist_to_bin(dict, &bytes, &length);
  std::string text(bytes, length);
  format == PlistFormat::xml ? plist_to_xml_free(bytes) : plist_to_bin_free(bytes);
  plist_free(dict);
  return text;
}

// A bundle at `relative` of `size` bytes in all: the information file (left out when `entries`
// is empty) and Contents/MacOS/main for the rest. Answers the bundle's path.
inline std::string makeBundle(const TempTree& tree, const std::string& relative,
                              const std::vector<InfoEntry>& entries, int64_t size,
                              PlistFormat format = PlistFormat::xml) {
  const std::string info = entries.empty() ? std::string() : infoPlist(entries, format);
  if (!entries.empty()) tree.write(relative + "/Contents/Info.plist", info);
  tree.touch(relative + "/Contents/MacOS/main", size - static_cast<int64_t>(info.size()));
  return tree.path(relative);
}

}  // namespace nimbra::test
