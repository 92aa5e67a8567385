#include "ops/startup/startup_items.h"

#include <sys/stat.h>

#include "base/path_parts.h"
#include "base/utf8.h"
#include "platform/formats/launch_job_file.h"
#include "platform/formats/script_literal.h"
#include "platform/fs/folder_listing.h"

namespace nimbra {
namespace {

ValueMap itemMap(const std::string& id, const std::string& name, const std::string& path,
                 const std::string& kind, bool enabled, bool runAtLoad, bool editable) {
  return {{"id", id},           {"name", name},           {"path", path},        {"kind", kind},
          {"enabled", enabled}, {"runAtLoad", runAtLoad}, {"editable", editable}};
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

std::vector<LaunchSource> launchSources(const Folders& folders) {
  return {{folders.home + "/Library/LaunchAgents", kUserAgentKind, true},
          {folders.library + "/LaunchAgents", kGlobalAgentKind, false},
          {folders.library + "/LaunchDaemons", kDaemonKind, false}};
}

bool isLoadedJob(std::string_view loadedJobs, std::string_view label) {
  constexpr std::string_view kUnitSuffix = ".service";
  if (label.empty()) return false;
  for (size_t at = loadedJobs.find(label); at != std::string_view::npos;
       at = loadedJobs.find(label, at + 1)) {
    if (at > 0 && !isSpace(loadedJobs[at - 1])) continue;
    std::string_view rest = loadedJobs.substr(at + label.size());
    if (rest.starts_with(kUnitSuffix)) rest.remove_prefix(kUnitSuffix.size());
    if (rest.empty() || isSpace(rest.front())) return true;
  }
  return false;
}

ValueList launchJobItems(const std::vector<LaunchSource>& sources, std::string_view loadedJobs) {
  ValueList items;
  for (const LaunchSource& source : sources) {
    const auto names = listFolder(source.folder, LinkAtPath::follow);
    if (!names) continue;
    for (const FolderEntry& entry : *names) {
      if (!std::string_view(entry.name).ends_with(".plist")) continue;
      const std::string path = source.folder + "/" + entry.name;
      // An id that is not UTF-8 cannot travel to the interface, and one with its bytes
      // replaced would name another file.
      if (!isValidUtf8(path)) continue;
      const LaunchJob job = readLaunchJob(path);
      const bool enabled =
          !job.disabled && (!source.editable || isLoadedJob(loadedJobs, job.label));
      items.emplace_back(itemMap(path, job.label, job.program, source.kind, enabled, job.runAtLoad,
                                 source.editable));
    }
  }
  return items;
}

ValueList loginItems(const ScriptResult& listing) {
  ValueList items;
  if (!listing.ok || !listing.text) return items;
  const std::string_view text = *listing.text;
  size_t pos = 1;
  if (!text.starts_with('{')) return items;
  std::optional<std::vector<std::string>> names = readAppleScriptList(text, pos);
  if (!names || text.substr(pos, 2) != ", ") return items;
  pos += 2;
  std::optional<std::vector<std::string>> paths = readAppleScriptList(text, pos);
  if (!paths || text.substr(pos) != "}" || paths->size() != names->size()) return items;
  for (size_t i = 0; i < names->size(); ++i) {
    items.emplace_back(
        itemMap((*paths)[i], (*names)[i], (*paths)[i], kLoginItemKind, true, true, true));
  }
  return items;
}

std::string launchFolderOf(const std::string& kind, const Folders& folders) {
  const std::vector<LaunchSource> sources = launchSources(folders);
  for (const LaunchSource& source : sources) {
    if (source.kind == kind) return source.folder;
  }
  return sources[1].folder;  // the agents for all users
}

std::optional<std::string> refusedJobId(const std::string& id, const std::string& kind,
                                        const Folders& folders) {
  const std::string folder = launchFolderOf(kind, folders);
  const bool inFolder =
      id.size() > folder.size() + 1 && id.starts_with(folder) && id[folder.size()] == '/';
  const std::string_view name = inFolder ? std::string_view(id).substr(folder.size() + 1) : "";
  // A relative folder (a home that is no absolute path) would name files wherever we run, and a
  // folder that bears a job file's name is none: removing it would take what it holds.
  struct stat info {};
  const bool isFolder = ::lstat(id.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  if (folder.starts_with('/') && !namesNoFile(id) && name.ends_with(".plist") &&
      name.find('/') == std::string_view::npos && !isFolder)
    return std::nullopt;
  return "not the path of a launch job file in " + folder + ": " + id;
}

ValueMap scriptAnswer(const ScriptResult& result) {
  return {{"ok", result.ok}, {"error", result.ok ? std::string() : result.text.value_or("")}};
}

}  // namespace nimbra
