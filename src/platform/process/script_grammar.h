#pragma once

// Every script the service sends to the script runner, in the system's script language, and the
// reader that turns one back into what it asks of this platform. Text never stands in a script
// unquoted: a path in an administrator command is a shell word of its own (shellQuoted), and the
// whole command, or a login item's name, is escaped for the script's string literal
// (appleScriptEscaped), so that quotes, backslashes, "$()" and newlines arrive as they were.

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nimbra {

// do shell script "COMMAND"
std::string shellScript(std::string_view command);
// do shell script "COMMAND" with administrator privileges
std::string administratorScript(std::string_view command);

// The one administrator script that removes every path still standing after the ordinary
// attempt: rm -rf P1 P2 ... A "--" goes before the paths only when one of them starts with "-"
// (a relative path), so that rm cannot read it as an option.
std::string adminRemovalScript(const std::vector<std::string>& paths);

// Drops the file caches as administrator, writing dirty pages back first so that dropping them
// frees them rather than failing.
inline constexpr const char* kPurgeMemoryScript =
    "do shell script \"sync; echo 3 > /proc/sys/vm/drop_caches\" with administrator privileges";

// Installs the edited copy of a launch job for all users over its file, as administrator:
// cp COPY JOB && chown root:wheel JOB.
std::string installJobFileScript(const std::string& copy, const std::string& job);

// launchctl VERB DOMAIN JOB, as administrator.
std::string launchctlScript(std::string_view verb, std::string_view domain, const std::string& job);

// Lists the login items; the runner answers {{names}, {paths}} in source form (appleScriptList).
inline constexpr const char* kListLoginItemsScript =
    "tell application \"System Events\" to get {name, path} of every login item";

// Deletes the login item `item` (its path, or its name).
std::string deleteLoginItemScript(std::string_view item);

// What a script asks, read back.
struct ShellCommand {
  std::string command;
  bool asAdministrator = false;
  friend bool operator==(const ShellCommand&, const ShellCommand&) = default;
};
struct ListLoginItems {
  friend bool operator==(const ListLoginItems&, const ListLoginItems&) = default;
};
struct DeleteLoginItem {
  std::string item;
  friend bool operator==(const DeleteLoginItem&, const DeleteLoginItem&) = default;
};
using ScriptRequest = std::variant<ShellCommand, ListLoginItems, DeleteLoginItem>;

// The request of a script of the forms above; nullopt for any other text, or a string literal
// that is unterminated, holds an escape other than \\ and \", or is followed by anything but
// what the form allows.
std::optional<ScriptRequest> readScript(std::string_view script);

}  // namespace nimbra
