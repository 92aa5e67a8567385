#include "platform/process/launchctl_program.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string_view>

namespace nimbra {
namespace {

// The installed stand-in's folder relative to the program's, from the layout the build installs;
// "../" steps only at the front.
constexpr std::string_view kStandInFromProgramFolder = NIMBRA_STAND_IN_FROM_BINDIR;

bool systemLaunchctlExists() { return ::access(kSystemLaunchctl, X_OK) == 0; }

// The folder of the running program ("" for the root folder); nullopt when it cannot be told,
// so that nothing is ever looked up relative to the working folder.
std::optional<std::string> executableFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer || buffer[0] != '/')
    return std::nullopt;
  const std::string self(buffer, static_cast<size_t>(length));
  return self.substr(0, self.rfind('/'));
}

bool hasStandIn(const std::string& folder) {
  return ::access((folder + "/launchctl").c_str(), X_OK) == 0;
}

// A folder that only root or this user can change: nobody else can put a program in it or
// rename what is there.
bool closedToOthers(const std::string& folder) {
  struct stat st;
  if (::lstat(folder.empty() ? "/" : folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return false;
  return (st.st_uid == 0 || st.st_uid == ::geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Installed, the stand-in sits apart from the program (so that no `launchctl` of ours comes
// first on anyone's PATH), at kStandInFromProgramFolder. That folder is not the program's own,
// so it is taken only when every folder from the one they share down to it is closed to other
// users: a copy of the program in /tmp/x must not run /tmp/libexec/...
std::optional<std::string> installedStandInFolder(std::string folder) {
  std::string_view relative = kStandInFromProgramFolder;
  while (relative.starts_with("../")) {
    if (folder.empty()) return std::nullopt;
    folder.erase(folder.rfind('/'));
    relative.remove_prefix(3);
  }
  if (relative.empty() || relative.starts_with('/') ||
      relative.find("..") != std::string_view::npos)
    return std::nullopt;
  if (!closedToOthers(folder)) return std::nullopt;
  while (!relative.empty()) {
    const size_t slash = relative.find('/');
    folder += "/";
    folder += relative.substr(0, slash);
    if (!closedToOthers(folder)) return std::nullopt;
    relative.remove_prefix(slash == std::string_view::npos ? relative.size() : slash + 1);
  }
  return hasStandIn(folder) ? std::optional(folder) : std::nullopt;
}

// The folder holding the stand-in: beside the program (the build's link), else where an install
// puts it; beside the program when neither has it, so that running it fails and the runner
// answers "".
std::optional<std::string> standInFolder() {
  std::optional<std::string> folder = executableFolder();
  if (!folder || hasStandIn(*folder)) return folder;
  if (std::optional<std::string> installed = installedStandInFolder(*folder)) return installed;
  return folder;
}

}  // namespace

std::string launchServiceProgram() {
  if (systemLaunchctlExists()) return kSystemLaunchctl;
  const std::optional<std::string> folder = standInFolder();
  // Without a folder the system's path stays: running it fails, and the runner answers "".
  return folder ? *folder + "/launchctl" : kSystemLaunchctl;
}

std::optional<std::string> launchServiceStandInFolder() {
  if (systemLaunchctlExists()) return std::nullopt;
  std::optional<std::string> folder = standInFolder();
  // PATH has no way to quote its separator.
  if (!folder || folder->empty() || folder->find(':') != std::string::npos) return std::nullopt;
  return folder;
}

std::string guiDomain(uid_t uid) { return "gui/" + std::to_string(uid); }

}  // namespace nimbra
