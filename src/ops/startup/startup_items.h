#pragma once

// The startup items' pieces: the launch job folders, the item maps built from them, the login
// items read from the script runner's answer, and what the control operations share.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "channel/value.h"
#include "ops/operation_context.h"
#include "platform/process/script_runner.h"

namespace nimbra {

inline constexpr const char* kUserAgentKind = "userAgent";
inline constexpr const char* kGlobalAgentKind = "globalAgent";
inline constexpr const char* kDaemonKind = "daemon";
inline constexpr const char* kLoginItemKind = "loginItem";

// One folder of launch job files and what its items are.
struct LaunchSource {
  std::string folder;
  std::string kind;
  bool editable = false;
};

// The user's agents (in the home folder's library), the agents for all users and the daemons
// (in the library folder): in this order.
std::vector<LaunchSource> launchSources(const Folders& folders);

// The item maps of every ".plist" file of the sources, source by source, each folder in its
// listing order. A folder that cannot be listed gives nothing; a file that cannot be read
// still gives an item, named after the file.
ValueList launchJobItems(const std::vector<LaunchSource>& sources, std::string_view loadedJobs);

// Whether the launch service's listing of loaded jobs names the job `label`: as a word of its
// own, or as the unit "LABEL.service" the stand-in makes of it. A label that only begins
// another one (com.a in com.a.b) is not loaded, and an empty label never is.
bool isLoadedJob(std::string_view loadedJobs, std::string_view label);

// The login items in the runner's answer, the {names, paths} pair in source form:
// {{"name1", "name2"}, {"path1", "path2"}}. Each item's id is its path: two items may share a
// name, never a path. An answer of another shape has no login items.
ValueList loginItems(const ScriptResult& listing);

// The folder of the launch job files of `kind`: the user's agents', the daemons', and for any
// other kind (an unknown or empty one too) the agents' for all users.
std::string launchFolderOf(const std::string& kind, const Folders& folders);

// Why `id` is no launch job of `kind`, or nullopt. The id of a launch job is the path of its
// file as the inventory hands it out: a ".plist" name directly in its kind's folder. The control
// operations write, load and delete what the id names, with an administrator's rights for every
// kind but the user's agents, so any other text is refused: a document or a folder elsewhere, a
// name with ".." that leads out of the folder, another kind's file (switched in the wrong
// domain, deleted by the wrong route), an option ("-..."), or a path with a NUL byte (which the
// kernel would read as a shorter one).
std::optional<std::string> refusedJobId(const std::string& id, const std::string& kind,
                                        const Folders& folders);

// {"ok", "error"} of a control operation that ran one script: the script's text on failure.
ValueMap scriptAnswer(const ScriptResult& result);

}  // namespace nimbra
