#pragma once

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "listTrash": what the user's Trash holds now, entry by entry, so that a person is shown
// exactly what emptying it (with these paths) removes, and where each entry came from. Entries
// are listed through the Trash's own folders as emptyTrash lists them (a Trash or files/ that is
// a link holds nothing), newest first.
//
// Work queue; blocks for the measurements; cancellation is polled before every entry and inside
// each measurement, and a cancelled listing answers the entries measured so far. Progress
// "trash" per entry, forced at the end. Answer: {"items": [{"path": TRASH/files/NAME, "name":
// NAME, "originalPath": where its record says it came from ("" without one), "deletedAt": when
// it was moved, in whole seconds since 1970 (0 without a record), "size", "isDir"}], "unnamed":
// entries left out because their names are not valid UTF-8 (they still go when the whole Trash
// is emptied), "cancelled"}.
ValueMap listTrash(OperationContext& context);

}  // namespace nimbra
