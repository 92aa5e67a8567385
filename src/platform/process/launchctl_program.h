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

// The program to run for a launch service command: /bin/launchctl, else the stand-in.
std::string launchServiceProgram();

// The folder of the stand-in when /bin/launchctl is missing, for scripts that call `launchctl`
// by name; nullopt when the system's own is there (or no folder can be named in PATH).
std::optional<std::string> launchServiceStandInFolder();

// "gui/" and the user id in decimal: the domain of the user's own jobs.
std::string guiDomain(uid_t uid);

}  // namespace nimbra
