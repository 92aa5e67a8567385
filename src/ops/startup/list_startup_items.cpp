#include "ops/startup/list_startup_items.h"

#include <unistd.h>

#include "ops/startup/startup_items.h"
#include "platform/process/launchctl_program.h"
#include "platform/process/script_grammar.h"

namespace nimbra {

ValueMap listStartupItems(OperationContext& context) {
  // One question to the launch service per call; every user agent is looked up in its answer.
  // Without a launch service to ask, no agent is loaded.
  const LaunchService service = findLaunchService();
  const std::string loadedJobs =
      service.program ? context.commands.run(*service.program, {"print", guiDomain(::getuid())})
                      : std::string();
  ValueList items = launchJobItems(launchSources(context.folders), loadedJobs);
  for (Value& item : loginItems(context.scripts.runScript(kListLoginItemsScript)))
    items.push_back(std::move(item));
  return {{"items", std::move(items)}};
}

}  // namespace nimbra
