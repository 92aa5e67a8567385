#include "platform/process/script_runner.h"

#include <unistd.h>

#include <string_view>
#include <vector>

#include "base/errno_text.h"
#include "base/utf8.h"
#include "base/white_space.h"
#include "platform/formats/autostart_entries.h"
#include "platform/formats/script_literal.h"
#include "platform/process/child_process.h"
#include "platform/process/launchctl_program.h"
#include "platform/process/script_grammar.h"

namespace nimbra {
namespace {

constexpr const char* kShell = "/bin/sh";

// What the script runner answers for anything it does not understand; the number is the
// one the system's runner gives for a syntax error.
constexpr const char* kSyntaxError = "syntax error: this script is not understood here (-2741)";

std::optional<std::string> utf8Trimmed(std::string text) {
  if (!isValidUtf8(text)) return std::nullopt;
  return trimWhiteSpace(std::move(text));
}

// The runner's contract for a finished child: success and its output, or failure and its
// error output, both trimmed.
ScriptResult resultOf(ChildOutcome child) {
  if (!child.launched) return {false, errnoText(child.launchError)};
  if (child.exitedZero) return {true, utf8Trimmed(std::move(child.out))};
  return {false, utf8Trimmed(std::move(child.err))};
}

// The arguments of /bin/sh for `command`. Where /bin/launchctl is missing, the commands still
// say `launchctl`: the stand-in's folder goes in front of PATH, inside the shell that runs the
// command, so that it also holds under pkexec, which resets the environment (and whose PATH is
// the one to keep for a root shell, not the caller's).
std::vector<std::string> shellArguments(const std::string& command) {
  const std::optional<std::string> standIn = launchServiceStandInFolder();
  if (!standIn) return {"-c", command};
  return {"-c", "PATH=\"$1:$PATH\"; export PATH; exec /bin/sh -c \"$2\"", "sh", *standIn, command};
}

ScriptResult listLoginItems(const std::string& folder) {
  // The {names, paths} pair in the source form of the system's runner, {{"n1", "n2"}, {"p1",
  // "p2"}}: a name holding ", " or a quote stays one name. The path names the entry, so one
  // that is not UTF-8 cannot be listed; a name is only shown, and is repaired.
  std::vector<std::string> names, paths;
  for (auto& entry : autostartEntries(folder)) {
    if (!isValidUtf8(entry.path)) continue;
    names.push_back(replaceInvalidUtf8(entry.name));
    paths.push_back(std::move(entry.path));
  }
  return {true, "{" + appleScriptList(names) + ", " + appleScriptList(paths) + "}"};
}

ScriptResult deleteLoginItem(const std::string& folder, const std::string& item) {
  if (auto error = removeAutostartEntry(folder, item)) {
    return {false, utf8Trimmed(std::move(*error))};
  }
  return {true, ""};
}

}  // namespace

ScriptResult ShellScriptRunner::runScript(const std::string& script) {
  const std::optional<ScriptRequest> request = readScript(script);
  if (!request) return {false, kSyntaxError};
  if (const auto* shell = std::get_if<ShellCommand>(&*request)) {
    if (!shell->asAdministrator || ::geteuid() == 0)
      return resultOf(runChild(kShell, shellArguments(shell->command)));
    if (::access(options_.pkexec.c_str(), X_OK) == 0) {
      std::vector<std::string> arguments = shellArguments(shell->command);
      arguments.insert(arguments.begin(), kShell);
      return resultOf(runChild(options_.pkexec, arguments));
    }
    return {false, "administrator privileges are not available: not running as root and " +
                       options_.pkexec + " is not installed"};
  }
  const std::string folder =
      options_.autostartFolder.empty() ? autostartFolder() : options_.autostartFolder;
  if (const auto* deletion = std::get_if<DeleteLoginItem>(&*request))
    return deleteLoginItem(folder, deletion->item);
  return listLoginItems(folder);
}

}  // namespace nimbra
