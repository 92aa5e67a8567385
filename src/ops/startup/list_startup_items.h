#pragma once

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "listStartupItems": the launch jobs of the user's agents, the agents for all users and the
// daemons (launchJobItems, one question to the launch service for what is loaded), then the
// login items the script runner lists. Information queue; blocks for the launch service and the
// script. Answer: {"items": [{"id", "name", "path", "kind", "enabled", "runAtLoad",
// "editable"}]}.
ValueMap listStartupItems(OperationContext& context);

}  // namespace nimbra
