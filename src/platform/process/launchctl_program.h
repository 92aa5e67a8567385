#pragma once

// Where the launch service is on this machine: the system's /bin/launchctl where it exists,
// else our own stand-in (host/launchctl/launchctl_stand_in.h), a `launchctl` link to the `nimbra`
// program: the build puts it beside the program, an install in a folder of its own. The service's
// own executable locates it, so a build runs in place and an installed tree can be moved whole.

#include <sys/types.h>
#include <optional>
#include <string>

namespace nimbra {

inline constexpr const char* kSystemLaunchctl = "/bin/launchctl";

// The launch service to run, or why there is none: the stand-in is missing, or another user
// could have replaced it (a folder on its way is theirs, or open to its group or everyone), and
// then it is never run as this user, let alone as root.
struct LaunchService {
  std::optional<std::string> program;  // /bin/launchctl or the stand-in, an absolute path
  std::string unavailable;             // without a program: why, as a sentence for an answer
};
LaunchService findLaunchService();

// The folder of the stand-in when /bin/launchctl is missing, for scripts that call `launchctl`
// by name; nullopt when the system's own is there, or no stand-in can be run (or its folder
// named in PATH).
std::optional<std::string> launchServiceStandInFolder();

// "gui/" and the user id in decimal: the domain of the user's own jobs.
std::string guiDomain(uid_t uid);

}  // namespace nimbra
