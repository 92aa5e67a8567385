#pragma once

#include <string>

#include "ops/operation_context.h"

namespace nimbra {

// "deviceId": "mac-" and 40 hex digits derived from the machine's UUID (else its computer name,
// else "unknown-mac"), recomputed on every call. Main loop; returns at once.
std::string deviceIdentifier(OperationContext& context);

}  // namespace nimbra
