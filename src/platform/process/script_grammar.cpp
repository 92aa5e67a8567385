#include "platform/process/script_grammar.h"

#include <algorithm>

#include "platform/formats/script_literal.h"

namespace nimbra {
namespace {

constexpr std::string_view kShellPrefix = "do shell script \"";
constexpr std::string_view kAdministratorSuffix = " with administrator privileges";
constexpr std::string_view kDeleteLoginItemPrefix =
    "tell application \"System Events\" to delete login item \"";

}  // namespace

std::string shellScript(std::string_view command) {
  return std::string(kShellPrefix) + appleScriptEscaped(command) + "\"";
}

std::string administratorScript(std::string_view command) {
  return shellScript(command) + std::string(kAdministratorSuffix);
}

std::string adminRemovalScript(const std::vector<std::string>& paths) {
  std::string command = "rm -rf ";
  const bool optionLike = std::any_of(paths.begin(), paths.end(),
                                      [](const std::string& p) { return p.starts_with('-'); });
  if (optionLike) command += "-- ";
  for (size_t i = 0; i < paths.size(); ++i) {
    if (i > 0) command += ' ';
    command += shellQuoted(paths[i]);
  }
  return administratorScript(command);
}

std::string installJobFileScript(const std::string& copy, const std::string& job) {
  return administratorScript("cp " + shellQuoted(copy) + " " + shellQuoted(job) +
                             " && chown root:wheel " + shellQuoted(job));
}

std::string launchctlScript(std::string_view verb, std::string_view domain,
                            const std::string& job) {
  return administratorScript("launchctl " + std::string(verb) + " " + std::string(domain) + " " +
                             shellQuoted(job));
}

std::string deleteLoginItemScript(std::string_view item) {
  return std::string(kDeleteLoginItemPrefix) + appleScriptEscaped(item) + "\"";
}

std::optional<ScriptRequest> readScript(std::string_view script) {
  if (script == kListLoginItemsScript) return ListLoginItems{};
  for (const std::string_view prefix : {kShellPrefix, kDeleteLoginItemPrefix}) {
    if (!script.starts_with(prefix)) continue;
    size_t pos = prefix.size();
    std::optional<std::string> text = readAppleScriptLiteral(script, pos);
    if (!text) return std::nullopt;
    const std::string_view rest = script.substr(pos);
    if (prefix == kDeleteLoginItemPrefix) {
      if (!rest.empty()) return std::nullopt;
      return DeleteLoginItem{std::move(*text)};
    }
    if (rest.empty()) return ShellCommand{std::move(*text), false};
    if (rest == kAdministratorSuffix) return ShellCommand{std::move(*text), true};
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace nimbra
