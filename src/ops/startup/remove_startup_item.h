#pragma once

#include <string>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "removeStartupItem": a login item (kind "loginItem", id its path or name) is deleted by the
// script runner; a launch job (id the path of its file in its kind's folder) is first disabled
// and unloaded (setStartupItem, whatever that answers), then its file deleted (deleteItems: the
// user's own agents through the Trash, every kind with the administrator step; a link is
// removed itself). An id that is no job file of its kind (refusedJobId), or a machine without a
// launch service to unload the job (findLaunchService), answers "ok" false with the reason, and
// nothing is run or touched. Information queue; blocks for the scripts and the password prompt.
// Answer: {"ok", "error"}; a job file still standing is {"ok": false, "error": ""}.
ValueMap removeStartupItem(OperationContext& context, const std::string& id,
                           const std::string& kind);

}  // namespace nimbra
