#pragma once

#include <string>
#include <vector>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "restoreItems": puts entries of the user's Trash (TRASH/files/NAME, as "listTrash" and
// trashItems' "moved" name them) back where their records say they came from, each record going
// with its entry, so that a move to the Trash can be taken back. Never over anything at the
// original path, never through a link, never by copying (see restoreFromTrash); a path that is
// no entry of the Trash fails ("PATH: not in the Trash"). A path given twice goes back with its
// first mention. Work queue; blocks for the moves; cancellation is polled between items, and
// what was not reached stays in the Trash, in neither list. Progress "restore" per path (the
// place it went back to, when it did), forced at the end. Answer: {"restored": the original
// paths, "failed": the caller's entry paths, "error": the first failures' texts, "cancelled":
// whether paths were left untried}.
ValueMap restoreItems(OperationContext& context, const std::vector<std::string>& paths);

}  // namespace nimbra
