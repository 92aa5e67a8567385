#pragma once

#include <string>

#include "ops/operation_context.h"

namespace nimbra {

// "deviceName": the computer name; "Mac" when it has none. Main loop; returns at once.
std::string deviceName(OperationContext& context);

}  // namespace nimbra
