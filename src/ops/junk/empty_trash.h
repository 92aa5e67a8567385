#pragma once

#include <optional>
#include <string>
#include <vector>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "emptyTrash": entries of the user's Trash (the home trash every desktop shares, where
// "trashItems" puts things) go for good with their records, through deleteItems without the
// administrator step; a link in it whose target is gone goes too. Without `paths`, every entry
// goes; with them, exactly those entries (TRASH/files/NAME, as "listTrash" names them) and
// nothing else, so that what a person confirmed from a listing is what goes even when more
// arrived meanwhile: a path that is no entry of the Trash (anything else, or an entry gone by
// now) is failed, with the reason in "error". A Trash that is a link, or whose files/ is one, is
// left alone. Work queue; blocking. Answer: deleteItems'.
ValueMap emptyTrash(OperationContext& context,
                    const std::optional<std::vector<std::string>>& paths = std::nullopt);

}  // namespace nimbra
