#include "platform/launch_service.h"

#include <unistd.h>

#include <climits>

namespace nimbra {
namespace {

bool systemLaunchctlExists() { return ::access(kSystemLaunchctl, X_OK) == 0; }

// The folder of the running program ("" for the root folder); nullopt when it cannot be told,
// so that nothing is ever looked up relative to the working folder.
std::optional<std::string> executableFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer || buffer[0] != '/') return std::nullopt;
  const std::string self(buffer, static_cast<size_t>(length));
  return self.substr(0, self.rfind('/'));
}

}  // namespace

std::string launchServiceProgram() {
  if (systemLaunchctlExists()) return kSystemLaunchctl;
  const std::optional<std::string> folder = executableFolder();
  // Without a folder the system's path stays: running it fails, and the runner answers "".
  return folder ? *folder + "/launchctl" : kSystemLaunchctl;
}

std::optional<std::string> launchServiceStandInFolder() {
  if (systemLaunchctlExists()) return std::nullopt;
  std::optional<std::string> folder = executableFolder();
  // PATH has no way to quote its separator.
  if (!folder || folder->empty() || folder->find(':') != std::string::npos) return std::nullopt;
  return folder;
}

std::string guiDomain(uid_t uid) { return "gui/" + std::to_string(uid); }

}  // namespace nimbra
