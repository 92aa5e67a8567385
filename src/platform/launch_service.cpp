#include "platform/launch_service.h"

#include <unistd.h>

#include <climits>

namespace nimbra {
namespace {

bool systemLaunchctlExists() { return ::access(kSystemLaunchctl, X_OK) == 0; }

std::string executableFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return ".";
  const std::string self(buffer, static_cast<size_t>(length));
  const size_t slash = self.rfind('/');
  return slash == 0 ? "/" : self.substr(0, slash);
}

}  // namespace

std::string launchServiceProgram() {
  if (systemLaunchctlExists()) return kSystemLaunchctl;
  const std::string folder = executableFolder();
  return (folder == "/" ? "" : folder) + "/launchctl";
}

std::optional<std::string> launchServiceStandInFolder() {
  if (systemLaunchctlExists()) return std::nullopt;
  std::string folder = executableFolder();
  // PATH has no way to quote its separator.
  if (folder.find(':') != std::string::npos) return std::nullopt;
  return folder;
}

std::string guiDomain(uid_t uid) { return "gui/" + std::to_string(uid); }

}  // namespace nimbra
