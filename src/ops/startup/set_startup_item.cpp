#include "ops/startup/set_startup_item.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/errno_text.h"
#include "base/path_parts.h"
#include "base/random_uuid.h"
#include "ops/startup/startup_items.h"
#include "platform/formats/property_list.h"
#include "platform/process/launchctl_program.h"
#include "platform/process/script_grammar.h"

namespace nimbra {
namespace {

constexpr const char* kLoginItemsOnlyRemoved = "Login items can only be removed";
// A job for all users is installed and loaded by root, so its file must be one that only root
// could have written, as the launch service itself insists. A link is refused, not replaced:
// the administrator's copy would write to wherever it points, and a file put in its place
// would cut the entry loose from whatever maintains the link. A missing file is left to the
// launch service, which says so itself.
std::optional<std::string> refusedSystemJobFile(const std::string& id) {
  struct stat info {};
  if (::lstat(id.c_str(), &info) != 0)
    return errno == ENOENT ? std::nullopt : std::optional(pathErrorText(id, errno));
  const std::string refused = id + ": a launch job for all users must be ";
  if (S_ISLNK(info.st_mode)) return refused + "a file of its own, not a symbolic link";
  if (!S_ISREG(info.st_mode)) return refused + "a regular file";
  if (info.st_uid != 0)
    return refused + "owned by root, not by user " + std::to_string(info.st_uid);
  if (info.st_mode & (S_IWGRP | S_IWOTH))
    return refused + "writable by root alone, not by its group or everyone";
  return std::nullopt;
}

}  // namespace

ValueMap setStartupItem(OperationContext& context, const std::string& id, const std::string& kind,
                        bool enabled) {
  if (kind == kLoginItemKind) return {{"ok", false}, {"error", kLoginItemsOnlyRemoved}};
  if (auto refusal = refusedJobId(id, kind, context.folders))
    return {{"ok", false}, {"error", *refusal}};
  // Any kind but these is a job for all users.
  const bool userJob = kind == kUserAgentKind;
  if (!userJob) {
    if (auto refusal = refusedSystemJobFile(id)) return {{"ok", false}, {"error", *refusal}};
  }
  // Without a launch service to run, the job could not be loaded or unloaded after its file
  // was changed: nothing is changed.
  const LaunchService service = findLaunchService();
  if (!service.program) return {{"ok", false}, {"error", service.unavailable}};
  const std::string domain = kind == kDaemonKind ? "system" : guiDomain(::getuid());
  const std::string verb = enabled ? "bootstrap" : "bootout";

  // Only a file that reads as a job dictionary is rewritten, with every other entry kept; the
  // job is loaded or unloaded either way.
  if (std::optional<PropertyList> job = PropertyList::readDictionary(id)) {
    job->setBoolean("Disabled", !enabled);
    if (userJob) {
      (void)job->writeAtomically(id);
    } else {
      const std::string copy = context.folders.temporary + randomUuidString() + ".plist";
      // Without the edited copy there is nothing to install: no password prompt for it.
      if (!job->writeAtomically(copy)) {
        (void)context.scripts.runScript(installJobFileScript(copy, id));
        ::unlink(copy.c_str());
      }
    }
  }

  if (userJob && !enabled) {
    // The job is disabled in its file, which is what was asked; the launch service complains
    // about a job that was not loaded, and that is no failure.
    return {{"ok", true}, {"output", context.commands.run(*service.program, {verb, domain, id})}};
  }
  if (userJob) {
    CheckedOutput load = context.commands.runChecked(*service.program, {verb, domain, id});
    if (!load.ok) return {{"ok", false}, {"error", std::move(load.error)}};
    return {{"ok", true}, {"output", std::move(load.output)}};
  }
  return scriptAnswer(context.scripts.runScript(launchctlScript(verb, domain, id)));
}

}  // namespace nimbra
