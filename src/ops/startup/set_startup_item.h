#pragma once

#include <string>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "setStartupItem": marks the launch job whose file is `id` enabled or disabled in that file
// (when it reads as a job dictionary; every other entry kept) and loads or unloads it. The
// user's own agents (kind "userAgent") are changed with the user's rights; jobs for all users
// and daemons (any other kind) through administrator commands, and only from a regular file
// owned and writable by root alone. Login items cannot be switched; an id that is no job file
// of its kind (refusedJobId), or a machine without a launch service (findLaunchService), answers
// "ok" false with the reason and runs nothing.
//
// Information queue; blocks for the launch service and the password prompt. Answer: {"ok",
// "error"}, with "output" (the launch service's) for the user's own agents.
ValueMap setStartupItem(OperationContext& context, const std::string& id, const std::string& kind,
                        bool enabled);

}  // namespace nimbra
