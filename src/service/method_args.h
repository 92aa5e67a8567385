#pragma once

// Arguments of the channel methods, decoded once at the channel edge into typed records.
// A key that is missing, null, or of another type than required takes its default: no call
// ever fails because of its arguments.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "channel/value.h"

namespace nimbra {

inline constexpr int64_t kLargeFilesDefaultMinSize = 104857600;  // 100 MiB
inline constexpr int64_t kDuplicatesDefaultMinSize = 1048576;    // 1 MiB
inline constexpr int64_t kAnalyzeDiskDefaultDepth = 3;

// The call's arguments when they are a map with string keys; otherwise an empty map.
const ValueMap& argumentMap(const Value& arguments);

std::optional<std::string> stringArg(const ValueMap& args, const std::string& key);
// A path: a string, or a byte array holding the path's bytes as the file system has them, for a
// name that is not UTF-8 (which a string cannot carry unchanged). A NUL byte stays in the text,
// for the operations to refuse as naming no file.
std::optional<std::string> pathArg(const ValueMap& args, const std::string& key);
std::optional<bool> boolArg(const ValueMap& args, const std::string& key);
// Any number; a double is truncated toward zero. A double that is not finite or lies outside
// the int64 range cannot be converted and counts as missing.
std::optional<int64_t> int64Arg(const ValueMap& args, const std::string& key);
// An integer, or a double whose value is integral (and within range).
std::optional<int64_t> integralArg(const ValueMap& args, const std::string& key);
// A list whose every element is a string; any other element makes the whole list missing.
std::optional<std::vector<std::string>> stringListArg(const ValueMap& args, const std::string& key);

// "scanLargeFiles", "scanDuplicates": "root" (default: `home`, the home folder; a path as
// pathArg reads it), "minSize".
struct RootMinSizeArgs {
  std::string root;
  int64_t minSize = 0;
  friend bool operator==(const RootMinSizeArgs&, const RootMinSizeArgs&) = default;
};
RootMinSizeArgs decodeScanLargeFilesArgs(const ValueMap& args, const std::string& home);
RootMinSizeArgs decodeScanDuplicatesArgs(const ValueMap& args, const std::string& home);

// "analyzeDisk": the folder comes from "path" (not "root"; as pathArg reads it), default `home`.
struct AnalyzeDiskArgs {
  std::string root;
  int64_t depth = kAnalyzeDiskDefaultDepth;
  bool record = false;
  friend bool operator==(const AnalyzeDiskArgs&, const AnalyzeDiskArgs&) = default;
};
AnalyzeDiskArgs decodeAnalyzeDiskArgs(const ValueMap& args, const std::string& home);

// "fileStats": the folder from "path" (as pathArg reads it), default `home`; "kind", when it is
// a string, asks for that kind's largest files too.
struct FileStatsArgs {
  std::string root;
  std::optional<std::string> kind;
  friend bool operator==(const FileStatsArgs&, const FileStatsArgs&) = default;
};
FileStatsArgs decodeFileStatsArgs(const ValueMap& args, const std::string& home);

// "diskHistory" and "forgetHistory": "path" absent or null means every folder; a "path" of
// another type names none (""), so a mistyped argument never widens a forgetting to all.
struct HistoryArgs {
  std::optional<std::string> path;
  friend bool operator==(const HistoryArgs&, const HistoryArgs&) = default;
};
HistoryArgs decodeHistoryArgs(const ValueMap& args);

// "diskChanges": "path" (default `home`), the snapshot ids "from" and "to" (integers).
struct DiskChangesArgs {
  std::string path;
  std::optional<int64_t> from;
  std::optional<int64_t> to;
  friend bool operator==(const DiskChangesArgs&, const DiskChangesArgs&) = default;
};
DiskChangesArgs decodeDiskChangesArgs(const ValueMap& args, const std::string& home);

// "deleteItems" reads "allowAdmin" (default true); "uninstallApp" never does: always true.
struct DeleteArgs {
  std::vector<std::string> paths;
  bool toTrash = false;
  bool allowAdmin = true;
  friend bool operator==(const DeleteArgs&, const DeleteArgs&) = default;
};
DeleteArgs decodeDeleteItemsArgs(const ValueMap& args);
DeleteArgs decodeUninstallAppArgs(const ValueMap& args);

// "trashItems", "restoreItems" and "inspectItems": only "paths", decoded as deletion's.
struct PathListArgs {
  std::vector<std::string> paths;
  friend bool operator==(const PathListArgs&, const PathListArgs&) = default;
};
PathListArgs decodeTrashItemsArgs(const ValueMap& args);
PathListArgs decodeRestoreItemsArgs(const ValueMap& args);
PathListArgs decodeInspectItemsArgs(const ValueMap& args);

// "emptyTrash": "paths" absent or null empties the whole Trash; present, exactly those entries
// go, and a "paths" of another type than a list of strings takes nothing: a mistyped list must
// never widen to everything.
struct EmptyTrashArgs {
  std::optional<std::vector<std::string>> paths;
  friend bool operator==(const EmptyTrashArgs&, const EmptyTrashArgs&) = default;
};
EmptyTrashArgs decodeEmptyTrashArgs(const ValueMap& args);

// "sizeOf" (default ""; as pathArg reads it), "revealPath" and "openPath" (absent: do nothing).
struct PathArgs {
  std::optional<std::string> path;
  friend bool operator==(const PathArgs&, const PathArgs&) = default;
};
PathArgs decodePathArgs(const ValueMap& args);

// "setStartupItem" ("enabled" default true) and "removeStartupItem".
struct StartupItemArgs {
  std::string id;
  std::string kind;
  bool enabled = true;
  friend bool operator==(const StartupItemArgs&, const StartupItemArgs&) = default;
};
StartupItemArgs decodeStartupItemArgs(const ValueMap& args);

// "appLeftovers".
struct AppLeftoversArgs {
  std::string bundleId;
  std::string name;
  friend bool operator==(const AppLeftoversArgs&, const AppLeftoversArgs&) = default;
};
AppLeftoversArgs decodeAppLeftoversArgs(const ValueMap& args);

}  // namespace nimbra
