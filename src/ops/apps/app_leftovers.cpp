#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ops/apps/app_folders.h"
#include "ops/apps/leftover_terms.h"
#include "service/nimbra_native.h"
#include "base/path_parts.h"
#include "platform/fs/folder_listing.h"
#include "base/utf8.h"

namespace nimbra {
namespace {

constexpr std::string_view kWeakRuleFolder = "Application Support";

// Searched in this order; the user's library first.
constexpr const char* kHomeLibraryFolders[] = {
    "Application Support", "Caches", "Preferences", "Logs", "Containers", "Group Containers",
    "Saved Application State", "HTTPStorages", "WebKit", "Cookies", "LaunchAgents"};
constexpr const char* kMachineLibraryFolders[] = {
    "LaunchAgents", "LaunchDaemons", "Application Support", "Caches", "Preferences"};

}  // namespace

ValueMap findLeftovers(NimbraNative& service, const AppFolderRoots& roots,
                       const std::string& bundleId, const std::string& name) {
  std::vector<std::string> folders;
  for (const char* folder : kHomeLibraryFolders) folders.push_back(roots.home + "/Library/" + folder);
  for (const char* folder : kMachineLibraryFolders) folders.push_back(roots.library + "/" + folder);

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
                                  {"name", withHomeAsTilde(path, roots.home)},
                                  {"size", service.sizeOf(path)},
                                  {"weak", match == LeftoverMatch::weak}});
    }
  }
  return {{"items", std::move(items)}};
}

ValueMap NimbraNative::appLeftovers(const std::string& bundleId, const std::string& name) {
  return findLeftovers(*this, AppFolderRoots::machine(), bundleId, name);
}

}  // namespace nimbra
