#pragma once

// Our own `launchctl` for machines without /bin/launchctl: the `nimbra` program started under
// that name. It takes exactly the three forms the service sends and maps them onto systemd,
// whose unit for a job is named after the job's label:
//
//   launchctl print DOMAIN            systemctl [--user] list-units --all --plain --no-legend
//   --no-pager launchctl bootstrap DOMAIN PLIST  systemd-run [--user] --unit=LABEL --collect
//   --quiet -- PROGRAM ARGS... launchctl bootout DOMAIN PLIST    systemctl [--user] stop
//   LABEL.service
//
// DOMAIN "system" is the system manager; "gui/UID" the user manager of that user ("--user",
// plus "--machine=UID@" when UID is not the caller's). The systemd program is looked up on
// PATH and replaces this process, so its output and exit status are the answer.

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nimbra {

inline constexpr int kLaunchctlUsage = 64;       // EX_USAGE: a form we do not take
inline constexpr int kLaunchctlBadJob = 65;      // EX_DATAERR: a label systemd cannot name safely
inline constexpr int kLaunchctlNoProgram = 78;   // EX_CONFIG: a job without a program to run
inline constexpr int kLaunchctlCannotRun = 127;  // the systemd program cannot be started

// The systemd command for one launchctl command line (arguments after the program name).
struct SystemdCommand {
  std::vector<std::string> argv;  // argv[0] is the program, found on PATH
};
struct LaunchctlRefusal {
  int status;
  std::string message;  // for standard error
};
std::variant<SystemdCommand, LaunchctlRefusal> systemdCommandFor(
    const std::vector<std::string>& arguments);

// True when argv[0] names this entry point.
bool isLaunchctlName(std::string_view argv0);

// The entry point: runs the systemd command (never returns then) or reports the refusal.
int launchctlMain(int argc, char** argv);

}  // namespace nimbra
