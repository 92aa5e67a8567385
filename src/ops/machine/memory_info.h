#pragma once

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "memoryInfo": the machine's memory from /proc/meminfo (memory_stats.h) and the twelve largest
// processes from the process lister. Information queue; blocks for the lister. Answer:
// {"total", "used", "free", "cached", "wired", "compressed" (bytes), "pressure" (percent),
// "topProcesses": [{"pid", "name", "mem"}]}.
ValueMap memoryInfo(OperationContext& context);

}  // namespace nimbra
