#include "ops/desktop/device_id.h"

#include "platform/machine/machine_identity.h"

namespace nimbra {

std::string deviceIdentifier(OperationContext& context) {
  std::string seed = hardwareUuid(context.machine);
  if (seed.empty()) seed = computerName(context.machine);
  if (seed.empty()) seed = "unknown-mac";
  return deviceIdentifierFor(seed);
}

}  // namespace nimbra
