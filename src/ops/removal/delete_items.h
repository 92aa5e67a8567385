#pragma once

#include <string>
#include <vector>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "deleteItems" and "uninstallApp": the single path by which anything is removed. Each of
// `paths` goes for good, or with `toTrash` through the Trash, which it leaves again at once;
// what stands after that goes to one administrator script for all (`allowAdmin`), unless it
// holds a mount point. Nothing outside an item is touched: no link is followed, no mount
// crossed, and "/", "X/.." and their kin are refused on every route.
//
// Work queue (startup item removal calls it on the information queue); blocks for the
// removals and the password prompt. Cancellation stops only the emptying of a folder that
// would not go; the measurements are never cut short. Progress "delete" per path, forced at the
// end. Answer: {"freed": bytes, "failed": [caller's paths still standing], "inTrash": [paths
// that could not leave the Trash], "inTrashBytes", "error": the first failures' texts}.
ValueMap deleteItems(OperationContext& context, const std::vector<std::string>& paths, bool toTrash,
                     bool allowAdmin);

}  // namespace nimbra
