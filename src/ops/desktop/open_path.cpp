#include "ops/desktop/open_path.h"

#include "base/path_parts.h"
#include "platform/desktop/desktop_programs.h"

namespace nimbra {

void openPath(OperationContext& context, const std::string& path) {
  if (namesNoFile(path)) return;
  if (auto pid = startDetached("xdg-open", {asOperand(path)})) {
    context.runInBackground([pid = *pid] { reapChild(pid); });
  }
}

}  // namespace nimbra
