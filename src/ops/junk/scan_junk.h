#pragma once

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "scanJunk": the junk catalogue's twelve categories in order, each measured root by root: a
// category that lists children makes each entry of a folder root an item of its own, another
// makes each root one item (named from "~" below the home folder); the localization category
// finds the language folders of application bundles; the Trash's category holds every entry
// that emptying the Trash would remove, empty ones too. An entry that holds another category's
// root is counted there. Items of each category largest first; a path that is not UTF-8 counts
// but is not listed, and "unnamed" says how many (per category and in all). A root or an entry
// that is a folder the user cannot read is passed over and counted in "unreadable", with the
// folders the measurements could not read.
//
// Work queue; blocks for the measurements; cancellation is polled between categories, roots and
// entries, and a cancelled scan answers the categories reached. Progress "junk" per item, forced
// at the end. Answer: {"categories": [{"id", "size", "unnamed", "items": [{"path", "name",
// "size", "isDir", "modified"}]}], "total", "count", "unnamed", "cancelled", "unreadable",
// "unreadableFolders" (unreadable_answer.h)}.
ValueMap scanJunk(OperationContext& context);

}  // namespace nimbra
