#include "ops/startup/remove_startup_item.h"

#include "ops/removal/delete_items.h"
#include "ops/startup/set_startup_item.h"
#include "ops/startup/startup_items.h"
#include "platform/process/launchctl_program.h"
#include "platform/process/script_grammar.h"

namespace nimbra {

ValueMap removeStartupItem(OperationContext& context, const std::string& id,
                           const std::string& kind) {
  if (kind == kLoginItemKind) {
    return scriptAnswer(context.scripts.runScript(deleteLoginItemScript(id)));
  }
  if (auto refusal = refusedJobId(id, kind, context.folders))
    return {{"ok", false}, {"error", *refusal}};
  // Disabled in its file and unloaded first, whatever that answers, so that a copy that
  // survives deletion no longer starts. Without a launch service to unload it, the job would
  // run on with its file gone: it stays.
  const LaunchService service = findLaunchService();
  if (!service.program) return {{"ok", false}, {"error", service.unavailable}};
  (void)setStartupItem(context, id, kind, false);
  const ValueMap deletion = deleteItems(context, {id}, kind == kUserAgentKind, true);
  const auto failed = deletion.find("failed");
  const ValueList* list = failed == deletion.end() ? nullptr : failed->second.getIf<ValueList>();
  return {{"ok", !list || list->empty()}, {"error", ""}};
}

}  // namespace nimbra
