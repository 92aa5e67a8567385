#include "ops/apps/list_apps.h"

#include <sys/stat.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_times.h"
#include "base/utf8.h"
#include "ops/apps/app_icon.h"
#include "ops/size/size_of.h"
#include "platform/formats/property_list.h"
#include "platform/fs/folder_listing.h"

namespace nimbra {
namespace {

constexpr const char* kTask = "apps";
// Case-sensitive: "Tool.APP" is no application.
constexpr std::string_view kBundleSuffix = ".app";
constexpr std::string_view kVendorPrefix = "com.apple.";

// Whether the entry leads anywhere. A link to a bundle elsewhere is listed, as the desktop lists
// one; a link to itself or to nothing names no application, and could not be uninstalled as one.
bool resolves(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// The first of `keys` whose value in the information file is a string; absent when none is or
// the file could not be read. A present empty string counts.
std::optional<std::string> infoString(const std::optional<PropertyList>& info,
                                      std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    if (std::optional<std::string> value = info ? info->string(key) : std::nullopt) return value;
  }
  return std::nullopt;
}

struct Listed {
  int64_t size;
  ValueMap map;
};

Listed describe(OperationContext& context, const std::string& path, std::string_view entryName) {
  const std::optional<PropertyList> info =
      PropertyList::readDictionary(path + "/Contents/Info.plist");
  std::string name =
      infoString(info, {"CFBundleDisplayName", "CFBundleName"})
          .value_or(std::string(entryName.substr(0, entryName.size() - kBundleSuffix.size())));
  std::string bundleId = infoString(info, {"CFBundleIdentifier"}).value_or("");
  std::string version =
      infoString(info, {"CFBundleShortVersionString", "CFBundleVersion"}).value_or("");
  const bool isApple = bundleId.starts_with(kVendorPrefix);
  const int64_t size = sizeOf(context, path);
  return {size,
          {{"name", std::move(name)},
           {"path", path},
           {"bundleId", std::move(bundleId)},
           {"version", std::move(version)},
           {"size", size},
           {"isApple", isApple},
           // A link to a bundle is dated, and measured, as the link.
           {"modified", modifiedSeconds(path, LinkAt::itself)},
           {"icon", bundleIconBase64(path, info)}}};
}

}  // namespace

ValueMap listApps(OperationContext& context) {
  const std::string& applications = context.folders.applications;
  const std::string folders[] = {applications, context.folders.home + "/Applications",
                                 applications + "/Utilities"};
  std::vector<Listed> listed;
  for (const std::string& folder : folders) {
    const std::optional<std::vector<FolderEntry>> entries = listFolder(folder, LinkAtPath::follow);
    if (!entries) continue;
    for (const FolderEntry& entry : *entries) {
      if (!entry.name.ends_with(kBundleSuffix)) continue;
      // Once cancelled, every later folder stops at its first application too.
      if (context.isCancelled()) break;
      const std::string path = folder + "/" + entry.name;
      // A path that is not valid UTF-8 cannot travel to the interface.
      if (!isValidUtf8(path) || !resolves(path)) continue;
      listed.push_back(describe(context, path, entry.name));
      context.progress.offer(kTask, path, static_cast<int64_t>(listed.size()), 0, false);
    }
  }
  // Largest first; equal sizes keep their order of discovery.
  std::stable_sort(listed.begin(), listed.end(),
                   [](const Listed& a, const Listed& b) { return a.size > b.size; });
  ValueList apps;
  apps.reserve(listed.size());
  for (Listed& app : listed) apps.emplace_back(std::move(app.map));
  return {{"apps", std::move(apps)}};
}

}  // namespace nimbra
