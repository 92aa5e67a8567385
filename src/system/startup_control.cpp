// Startup item control: switching a launch job on or off, and removing any startup item.
// The user's own jobs are changed with the user's rights; jobs for all users and daemons
// through administrator shell commands.

#include <unistd.h>

#include "channel/nimbra_native.h"
#include "platform/applescript_literal.h"
#include "platform/home.h"
#include "platform/launch_service.h"
#include "platform/path_parts.h"
#include "platform/property_list.h"
#include "platform/random_uuid.h"
#include "system/startup_items.h"

namespace nimbra {
namespace {

constexpr const char* kLoginItemsOnlyRemoved = "Login items can only be removed";
constexpr const char* kDeleteLoginItemPrefix = "tell application \"System Events\" to delete login item \"";
constexpr const char* kAdminPrefix = "do shell script \"";
constexpr const char* kAdminSuffix = "\" with administrator privileges";

// A path as one word of an administrator command, inside the script's string literal.
std::string adminWord(const std::string& path) { return appleScriptEscaped(shellQuoted(path)); }

// The id of a launch job is the absolute path of its file, as the inventory hands it out. Any
// other text would reach `cp`, `launchctl` and deletion as an option ("-..."), a file relative to
// wherever the service runs, or (with a NUL byte) a different, shorter path.
std::optional<std::string> refusedJobId(const std::string& id) {
  if (id.starts_with('/') && !namesNoFile(id)) return std::nullopt;
  return "not the path of a launch job file: " + id;
}

ValueMap answerOf(const ScriptResult& result) {
  return {{"ok", result.ok}, {"error", result.ok ? std::string() : result.text.value_or("")}};
}

}  // namespace

ValueMap NimbraNative::setStartupItem(const std::string& id, const std::string& kind, bool enabled) {
  if (kind == kLoginItemKind) return {{"ok", false}, {"error", kLoginItemsOnlyRemoved}};
  if (auto refusal = refusedJobId(id)) return {{"ok", false}, {"error", *refusal}};
  // Any kind but these is a job for all users.
  const bool userJob = kind == kUserAgentKind;
  const std::string domain = kind == kDaemonKind ? "system" : guiDomain(::getuid());
  const std::string verb = enabled ? "bootstrap" : "bootout";

  // Only a file that reads as a job dictionary is rewritten, with every other entry kept; the
  // job is loaded or unloaded either way.
  if (std::optional<PropertyList> job = PropertyList::readDictionary(id)) {
    job->setBoolean("Disabled", !enabled);
    if (userJob) {
      (void)job->writeAtomically(id);
    } else {
      const std::string copy = temporaryDirectory() + randomUuidString() + ".plist";
      // Without the edited copy there is nothing to install: no password prompt for it.
      if (!job->writeAtomically(copy)) {
        (void)runAppleScriptResult(kAdminPrefix + std::string("cp ") + adminWord(copy) + " " + adminWord(id) +
                                   " && chown root:wheel " + adminWord(id) + kAdminSuffix);
        ::unlink(copy.c_str());
      }
    }
  }

  if (userJob) {
    return {{"ok", true}, {"output", run(launchServiceProgram(), {verb, domain, id})}};
  }
  return answerOf(runAppleScriptResult(kAdminPrefix + std::string("launchctl ") + verb + " " + domain + " " +
                                       adminWord(id) + kAdminSuffix));
}

ValueMap NimbraNative::removeStartupItem(const std::string& id, const std::string& kind) {
  if (kind == kLoginItemKind) {
    return answerOf(runAppleScriptResult(kDeleteLoginItemPrefix + appleScriptEscaped(id) + "\""));
  }
  if (auto refusal = refusedJobId(id)) return {{"ok", false}, {"error", *refusal}};
  // Disabled in its file and unloaded first, whatever that answers, so that a copy that
  // survives deletion no longer starts.
  (void)setStartupItem(id, kind, false);
  const ValueMap deletion = deleteItems({id}, kind == kUserAgentKind, true);
  const auto failed = deletion.find("failed");
  const ValueList* list = failed == deletion.end() ? nullptr : failed->second.getIf<ValueList>();
  return {{"ok", !list || list->empty()}, {"error", ""}};
}

}  // namespace nimbra
