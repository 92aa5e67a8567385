#pragma once

// The fixed catalogue of junk locations that the junk scan walks: twelve categories in a
// fixed order, each a list of roots formed from the user's folders.

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ops/operation_context.h"

namespace nimbra {

struct JunkCategory {
  std::string id;                  // sent to the interface unchanged
  std::vector<std::string> roots;  // absolute paths, in the order they are scanned
  bool listChildren = false;       // true: each entry of a root directory is an item of its own;
                                   // false: each root is one item as a whole
};

// The twelve categories for the home folder, the temporary folder (used as given, with its
// trailing slash), the Trash (whose files/ folder holds the trashed items) and the library
// folder of `folders`. Paths are joined as plain strings; nothing is tested for existence.
std::vector<JunkCategory> junkCatalogue(const Folders& folders);

// Every root of every category, in catalogue order, duplicates kept.
std::vector<std::string> allRoots(const std::vector<JunkCategory>& catalogue);

// Folders searched for application bundles by the "localization" category, in order.
std::vector<std::string> applicationFolders(const Folders& folders);

// Lower-cased language names of localization folders that are never offered as junk.
const std::set<std::string>& keptLanguages();

// What names a localization folder inside a bundle's resources.
inline constexpr std::string_view kLocalizationSuffix = ".lproj";

// The language of a localization folder name ("fr.lproj" -> "fr", "en_GB.lproj" -> "en_gb").
std::string languageOfLocalization(const std::string& folderName);

// The user cache folder: the temporary folder's sibling named "C".
std::string userCacheDirectory(const std::string& tmp);

}  // namespace nimbra
