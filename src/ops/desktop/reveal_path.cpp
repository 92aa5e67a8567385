#include "ops/desktop/reveal_path.h"

#include "base/path_parts.h"
#include "platform/desktop/desktop_programs.h"

namespace nimbra {
namespace {

// Asks the file manager to show the item selected; when that fails (no session bus, no file
// manager that implements the interface) opens the parent folder instead. One helper process
// does both, so the fallback still happens after a short-lived host has exited. The item's
// URL and the parent arrive as positional parameters, never as shell text.
constexpr const char* kRevealHelper =
    "gdbus call --session --dest org.freedesktop.FileManager1"
    " --object-path /org/freedesktop/FileManager1"
    " --method org.freedesktop.FileManager1.ShowItems \"$1\" '' || exec xdg-open \"$2\"";

}  // namespace

void revealPath(OperationContext& context, const std::string& path) {
  if (namesNoFile(path)) return;  // a program would see only the text before the NUL
  // The URL holds only unreserved characters, "/" and "%", so it is safe inside the quotes of
  // a GVariant string.
  const std::string items = "['" + fileUrlFromPath(path) + "']";
  const std::string parent = splitLastComponent(path).parent;
  if (auto pid = startDetached("/bin/sh", {"-c", kRevealHelper, "nimbra-reveal", items,
                                           asOperand(parent.empty() ? path : parent)})) {
    context.runInBackground([pid = *pid] { reapChild(pid); });
  }
}

}  // namespace nimbra
