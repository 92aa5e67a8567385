#pragma once

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "optimizeMemory": drops the file caches as administrator, measured by memoryInfo before and
// after a 1.2 s pause. Information queue; blocks for the password prompt and the pause. Answer:
// {"ok", "error": the script's text on failure, "before", "after", "freed"} (bytes used; freed is
// never below 0).
ValueMap optimizeMemory(OperationContext& context);

}  // namespace nimbra
