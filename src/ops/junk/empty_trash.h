#pragma once

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "emptyTrash": every entry of the user's Trash (the home trash every desktop shares, where
// "trashItems" puts things) goes for good with its record, through deleteItems without the
// administrator step; a link in it whose target is gone goes too. A Trash that is a link is
// left alone. Work queue; blocking. Answer: deleteItems'.
ValueMap emptyTrash(OperationContext& context);

}  // namespace nimbra
