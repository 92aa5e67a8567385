#pragma once

#include <string>
#include <vector>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "trashItems": moves each of `paths` into the user's Trash, where it stays, restorable. A path
// given twice goes with its first mention. Work queue; blocks for the moves; cancellation is
// polled between items, and what was not reached stays where it is, in neither list. Progress
// "trash" per path, forced at the end. Answer: {"trashed", "failed": the caller's own paths,
// "error": the first failures' texts, "cancelled": whether paths were left untried, "moved":
// [{"path": a path of "trashed", "trashPath": the entry it became, TRASH/files/NAME}], what
// "restoreItems" takes to put back exactly what this call moved}.
ValueMap trashItems(OperationContext& context, const std::vector<std::string>& paths);

}  // namespace nimbra
