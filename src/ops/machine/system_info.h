#pragma once

#include <string>
#include <string_view>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "systemInfo": the machine's facts from its sources: the OS version (from the kernel release),
// the computer's and the user's names, the processor, the cores, memory (memoryInfo's total and
// used), the uptime, the volumes (mountedVolumes) and the home folder; "macOS" and "arm64" as the
// interface expects. Information queue; blocks for the process lister. Answer: {"os",
// "osVersion", "host", "user", "cpu", "arch", "cores", "memTotal", "memUsed", "uptime", "disks",
// "home"}.
ValueMap systemInfo(OperationContext& context);

// The leading dot-separated numbers of a kernel release, at most three, missing ones 0:
// "6.1.0-18-amd64" gives "6.1.0", "5.15-rc1" gives "5.15.0".
std::string osVersionFromRelease(std::string_view release);

// The first "model name" of a /proc/cpuinfo text; "" when there is none.
std::string cpuBrandFromCpuinfo(std::string_view cpuinfo);

}  // namespace nimbra
