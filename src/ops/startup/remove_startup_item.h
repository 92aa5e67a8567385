#pragma once

#include <string>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "removeStartupItem": a login item (kind "loginItem", id its path or name) is deleted by the
// script runner; a launch job (id the absolute path of its file) is first disabled and unloaded
// (setStartupItem, whatever that answers), then its file deleted (deleteItems: the user's own
// agents through the Trash, every kind with the administrator step). An id that names no job
// file runs nothing. Information queue; blocks for the scripts and the password prompt.
// Answer: {"ok", "error"}; a job file still standing is {"ok": false, "error": ""}.
ValueMap removeStartupItem(OperationContext& context, const std::string& id,
                           const std::string& kind);

}  // namespace nimbra
