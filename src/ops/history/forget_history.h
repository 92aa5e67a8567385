#pragma once

#include <optional>
#include <string>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "forgetHistory": removes every snapshot of the folder `path` (trailing slashes aside), or
// every snapshot of every folder when nullopt, in one transaction; the file shrinks by what
// they took. {"forgotten": how many, "error", "cancelled"}: cancelled, nothing is forgotten.
// "historyMovedAside" as history_access.h says. Work queue; blocking.
ValueMap forgetHistory(OperationContext& context, const std::optional<std::string>& path);

}  // namespace nimbra
