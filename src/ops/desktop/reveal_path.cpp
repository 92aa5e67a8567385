// The desktop services of the service object: names, the device identifier, reveal and open,
// and the folder panel. All are called on the main loop and never block it.

#include "service/nimbra_native.h"
#include "platform/desktop/desktop_programs.h"
#include "platform/desktop/folder_panel.h"
#include "platform/machine/machine_identity.h"
#include "base/path_parts.h"

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

// xdg-open takes anything that starts with "-" for an option.
std::string asOperand(const std::string& path) { return path.starts_with('-') ? "./" + path : path; }

}  // namespace

std::string NimbraNative::deviceIdentifier() {
  std::string seed = hardwareUuid(*seams_.machineSources);
  if (seed.empty()) seed = computerName(*seams_.machineSources);
  if (seed.empty()) seed = "unknown-mac";
  return deviceIdentifierFor(seed);
}

std::string NimbraNative::deviceName() {
  std::string name = computerName(*seams_.machineSources);
  return name.empty() ? "Mac" : name;
}

void NimbraNative::revealPath(const std::string& path) {
  if (namesNoFile(path)) return;  // a program would see only the text before the NUL
  // The URL holds only unreserved characters, "/" and "%", so it is safe inside the quotes of
  // a GVariant string.
  const std::string items = "['" + fileUrlFromPath(path) + "']";
  const std::string parent = splitLastComponent(path).parent;
  if (auto pid = startDetached("/bin/sh", {"-c", kRevealHelper, "nimbra-reveal", items,
                                           asOperand(parent.empty() ? path : parent)})) {
    infoQueue_.async([pid = *pid] { reapChild(pid); });
  }
}

void NimbraNative::openPath(const std::string& path) {
  if (namesNoFile(path)) return;
  if (auto pid = startDetached("xdg-open", {asOperand(path)})) {
    infoQueue_.async([pid = *pid] { reapChild(pid); });
  }
}

void NimbraNative::pickFolder(FolderCompletion completion) {
  std::optional<PanelCommand> panel = folderPanelCommand();
  if (!panel) {
    mainLoop().post([completion = std::move(completion)] { completion(std::nullopt); });
    return;
  }
  // The panel stays open as long as the user likes; it waits on an information-queue thread of
  // its own, so other calls, other panels included, are answered meanwhile.
  infoQueue_.async([this, panel = std::move(*panel), completion = std::move(completion)] {
    std::optional<std::string> folder = runFolderPanel(panel);
    mainLoop().post([completion, folder = std::move(folder)] { completion(folder); });
  });
}

}  // namespace nimbra
