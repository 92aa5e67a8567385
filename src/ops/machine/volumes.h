#pragma once

#include "channel/value.h"
#include "platform/machine/machine_sources.h"

namespace nimbra {

// The "disks" of "systemInfo": one {"name", "path", "total", "free", "used", "isSystem",
// "isRemovable"} entry per mounted volume that holds stored data, in mount-table order with
// the root first. A mount whose mount point is not valid UTF-8, cannot be examined, is no
// directory (a file bound into place) or whose capacity is 0 is left out, and of several volumes
// with one name only the first is listed.
ValueList mountedVolumes(MachineSources& sources);

}  // namespace nimbra
