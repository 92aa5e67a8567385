#include "platform/process/launchctl_program.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string_view>
#include <variant>
#include <vector>

#include "base/errno_text.h"

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

std::string shownFolder(const std::string& folder) { return folder.empty() ? "/" : folder; }

bool hasStandIn(const std::string& folder) {
  return ::access((folder + "/launchctl").c_str(), X_OK) == 0;
}

// Why someone other than root or this user could change `folder` (put a program in it, rename
// what is there), or nullopt when nobody else can.
std::optional<std::string> openToOthers(const std::string& folder) {
  const std::string shown = shownFolder(folder);
  struct stat st {};
  if (::lstat(shown.c_str(), &st) != 0) return pathErrorText(shown, errno);
  if (!S_ISDIR(st.st_mode)) return shown + " is not a folder";
  if (st.st_uid != 0 && st.st_uid != ::geteuid())
    return shown + " belongs to user " + std::to_string(st.st_uid);
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return shown + " is writable by its group or everyone (mode " + mode + ")";
  }
  return std::nullopt;
}

struct StandInMissing {
  std::string where;  // the stand-in's path that was looked for; "" when none could be named
};
struct StandInRefused {
  std::string where;
  std::string why;
};
using StandIn = std::variant<std::string, StandInMissing, StandInRefused>;

// Installed, the stand-in sits apart from the program (so that no `launchctl` of ours comes
// first on anyone's PATH), at kStandInFromProgramFolder. That folder is not the program's own,
// so it is taken only when every folder from the one they share down to it is closed to other
// users: a copy of the program in /tmp/x must not run /tmp/libexec/...
StandIn installedStandIn(std::string folder) {
  const StandInMissing nowhere{shownFolder(folder) + "/launchctl"};
  std::string_view relative = kStandInFromProgramFolder;
  while (relative.starts_with("../")) {
    if (folder.empty()) return nowhere;
    folder.erase(folder.rfind('/'));
    relative.remove_prefix(3);
  }
  if (relative.empty() || relative.starts_with('/') ||
      relative.find("..") != std::string_view::npos)
    return nowhere;
  std::vector<std::string> way{folder};
  while (!relative.empty()) {
    const size_t slash = relative.find('/');
    way.push_back(way.back() + "/" + std::string(relative.substr(0, slash)));
    relative.remove_prefix(slash == std::string_view::npos ? relative.size() : slash + 1);
  }
  if (!hasStandIn(way.back())) return StandInMissing{way.back() + "/launchctl"};
  for (const std::string& step : way) {
    if (std::optional<std::string> why = openToOthers(step))
      return StandInRefused{way.back() + "/launchctl", std::move(*why)};
  }
  return way.back();
}

// The stand-in: beside the program (the build's link), else where an install puts it.
StandIn standIn() {
  const std::optional<std::string> folder = executableFolder();
  if (!folder) return StandInMissing{};
  if (hasStandIn(*folder)) return *folder;
  return installedStandIn(*folder);
}

}  // namespace

LaunchService findLaunchService() {
  if (systemLaunchctlExists()) return {kSystemLaunchctl, ""};
  const StandIn found = standIn();
  if (const auto* folder = std::get_if<std::string>(&found)) return {*folder + "/launchctl", ""};
  if (const auto* missing = std::get_if<StandInMissing>(&found)) {
    const std::string none = "no launch service: " + std::string(kSystemLaunchctl) + " is missing";
    return {std::nullopt, missing->where.empty()
                              ? none +
                                    ", and the stand-in cannot be found without this "
                                    "program's own path"
                              : none + ", and so is the stand-in " + missing->where};
  }
  const auto& refused = std::get<StandInRefused>(found);
  return {std::nullopt,
          "the launch service stand-in " + refused.where +
              " is not run, since another user could have replaced it: " + refused.why};
}

std::optional<std::string> launchServiceStandInFolder() {
  if (systemLaunchctlExists()) return std::nullopt;
  const StandIn found = standIn();
  const auto* folder = std::get_if<std::string>(&found);
  // PATH has no way to quote its separator.
  if (!folder || folder->empty() || folder->find(':') != std::string::npos) return std::nullopt;
  return *folder;
}

std::string guiDomain(uid_t uid) { return "gui/" + std::to_string(uid); }

}  // namespace nimbra
