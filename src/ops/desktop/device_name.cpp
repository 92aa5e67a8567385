#include "ops/desktop/device_name.h"

#include "platform/machine/machine_identity.h"

namespace nimbra {

std::string deviceName(OperationContext& context) {
  std::string name = computerName(context.machine);
  return name.empty() ? "Mac" : name;
}

}  // namespace nimbra
