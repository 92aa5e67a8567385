#include "host/launchctl/launchctl_stand_in.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/formats/launch_job_file.h"

namespace nimbra {
namespace {

constexpr const char* kUsage =
    "launchctl: usage: launchctl print DOMAIN | bootstrap DOMAIN PLIST | bootout DOMAIN PLIST"
    " (DOMAIN: system or gui/UID)";

// The manager options for a domain; false when it is neither "system" nor "gui/" and a uid.
bool managerOptions(std::string_view domain, std::vector<std::string>& options) {
  if (domain == "system") return true;
  constexpr std::string_view kGui = "gui/";
  if (!domain.starts_with(kGui)) return false;
  const std::string_view digits = domain.substr(kGui.size());
  uid_t uid = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), uid);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      digits.front() == '-' || digits.front() == '+') {
    return false;
  }
  options.push_back("--user");
  if (uid != ::getuid()) options.push_back("--machine=" + std::to_string(uid) + "@");
  return true;
}

// A label becomes a unit name as it is. Anything beyond the letters of reverse-DNS labels could
// be read by systemctl as something else: a leading "-" as an option, "*?[" as a pattern that
// stops every matching unit, "/" as a path, "\" or "@" as escapes and instances. A label that
// already ends in a unit type would be started as that unit and stopped as "LABEL.service",
// another unit: such a job could never be stopped.
bool namesOneUnit(std::string_view label) {
  if (label.empty() || label.front() == '-' || label.front() == '.') return false;
  for (char c : label) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_' || c == ':';
    if (!plain) return false;
  }
  for (std::string_view type : {".service", ".socket", ".timer", ".target", ".mount", ".path",
                                ".slice", ".scope", ".swap", ".device", ".automount"}) {
    if (label.ends_with(type)) return false;
  }
  return true;
}

}  // namespace

std::variant<SystemdCommand, LaunchctlRefusal> systemdCommandFor(
    const std::vector<std::string>& arguments) {
  const LaunchctlRefusal usage{kLaunchctlUsage, kUsage};
  if (arguments.empty()) return usage;
  const std::string& verb = arguments[0];
  std::vector<std::string> manager;
  if (arguments.size() < 2 || !managerOptions(arguments[1], manager)) return usage;

  if (verb == "print" && arguments.size() == 2) {
    SystemdCommand command{{"systemctl"}};
    command.argv.insert(command.argv.end(), manager.begin(), manager.end());
    command.argv.insert(command.argv.end(),
                        {"list-units", "--all", "--plain", "--no-legend", "--no-pager"});
    return command;
  }
  if ((verb != "bootstrap" && verb != "bootout") || arguments.size() != 3) return usage;

  const std::string& file = arguments[2];
  const LaunchJob job = readLaunchJob(file);
  if (!namesOneUnit(job.label)) {
    return LaunchctlRefusal{kLaunchctlBadJob, "launchctl: " + file + ": the label \"" + job.label +
                                                  "\" cannot name a systemd unit"};
  }
  if (verb == "bootout") {
    SystemdCommand command{{"systemctl"}};
    command.argv.insert(command.argv.end(), manager.begin(), manager.end());
    command.argv.insert(command.argv.end(), {"stop", job.label + ".service"});
    return command;
  }
  if (job.program.empty()) {
    return LaunchctlRefusal{
        kLaunchctlNoProgram,
        "launchctl: " + file +
            (job.readable ? ": the job names no program to run" : ": not a readable job file")};
  }
  SystemdCommand command{{"systemd-run"}};
  command.argv.insert(command.argv.end(), manager.begin(), manager.end());
  command.argv.insert(command.argv.end(),
                      {"--unit=" + job.label, "--collect", "--quiet", "--", job.program});
  command.argv.insert(command.argv.end(), job.arguments.begin(), job.arguments.end());
  return command;
}

bool isLaunchctlName(std::string_view argv0) {
  const size_t slash = argv0.rfind('/');
  return (slash == std::string_view::npos ? argv0 : argv0.substr(slash + 1)) == "launchctl";
}

int launchctlMain(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  auto outcome = systemdCommandFor(arguments);
  if (const auto* refusal = std::get_if<LaunchctlRefusal>(&outcome)) {
    const std::string line = refusal->message + "\n";
    (void)!::write(STDERR_FILENO, line.data(), line.size());
    return refusal->status;
  }
  std::vector<std::string>& command = std::get<SystemdCommand>(outcome).argv;
  std::vector<char*> vector;
  for (std::string& word : command) vector.push_back(word.data());
  vector.push_back(nullptr);
  ::execvp(vector[0], vector.data());
  const std::string line =
      "launchctl: cannot run " + command[0] + ": " + std::strerror(errno) + "\n";
  (void)!::write(STDERR_FILENO, line.data(), line.size());
  return kLaunchctlCannotRun;
}

}  // namespace nimbra
