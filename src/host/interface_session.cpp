#include "host/interface_session.h"

#include <unistd.h>

#include "base/fd_io.h"

namespace nimbra {

void closeWithComplaint(const MainFlutterWindow& window, const std::string& complaint, int status) {
  // Nothing more can be done if stderr is gone too; the status still tells.
  (void)writeAll(STDERR_FILENO, "nimbra: " + complaint + "\n");
  window.close(status);
}

}  // namespace nimbra
