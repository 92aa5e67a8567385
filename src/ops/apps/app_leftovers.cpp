#include "ops/apps/app_leftovers.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/path_parts.h"
#include "base/utf8.h"
#include "ops/apps/leftover_terms.h"
#include "ops/size/size_of.h"
#include "platform/fs/folder_listing.h"

namespace nimbra {
namespace {

constexpr std::string_view kWeakRuleFolder = "Application Support";

// Searched in this order; the user's library first.
constexpr const char* kHomeLibraryFolders[] = {"Application Support",
                                               "Caches",
                                               "Preferences",
                                               "Logs",
                                               "Containers",
                                               "Group Containers",
                                               "Saved Application State",
                                               "HTTPStorages",
                                               "WebKit",
                                               "Cookies",
                                               "LaunchAgents"};
constexpr const char* kMachineLibraryFolders[] = {"LaunchAgents", "LaunchDaemons",
                                                  "Application Support", "Caches", "Preferences"};

}  // namespace

ValueMap appLeftovers(OperationContext& context, const std::string& bundleId,
                      const std::string& name) {
  const std::string& home = context.folders.home;
  std::vector<std::string> folders;
  for (const char* folder : kHomeLibraryFolders) folders.push_back(home + "/Library/" + folder);
  for (const char* folder : kMachineLibraryFolders)
    folders.push_back(context.folders.library + "/" + folder);

  const LeftoverTerms terms(bundleId, name);
  ValueList items;
  for (const std::string& folder : folders) {
    const std::optional<std::vector<FolderEntry>> entries = listFolder(folder, LinkAtPath::follow);
    if (!entries) continue;
    const bool inApplicationSupport = folder.ends_with(kWeakRuleFolder);
    for (const FolderEntry& entry : *entries) {
      const std::string path = folder + "/" + entry.name;
      // A name that is not valid UTF-8 neither matches nor could travel to the interface.
      const std::optional<std::string> lowerName = lowerCased(entry.name);
      if (!lowerName || !isValidUtf8(path)) continue;
      const LeftoverMatch match = terms.match(*lowerName, inApplicationSupport);
      if (match == LeftoverMatch::none) continue;
      items.emplace_back(ValueMap{{"path", path},
                                  {"name", withHomeAsTilde(path, home)},
                                  {"size", sizeOf(context, path)},
                                  {"weak", match == LeftoverMatch::weak}});
    }
  }
  return {{"items", std::move(items)}};
}

}  // namespace nimbra
