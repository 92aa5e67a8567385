#pragma once

// Starting the desktop's own programs (file manager, default application, folder panel) from
// the service without ever waiting for them on the main loop.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace nimbra {

// The file URL of `path` (percent-encoded as url_path.h says). A relative path is taken
// against the working folder.
std::string fileUrlFromPath(const std::string& path);

// `path` as an operand of a program that takes anything starting with "-" for an option:
// "./-n" for "-n".
std::string asOperand(const std::string& path);

// Whether a graphical session is there to show a program's window (DISPLAY or WAYLAND_DISPLAY
// set and not empty).
bool hasGraphicalSession();

// The executable `name` as the shell would find it through $PATH; nullopt when there is none.
std::optional<std::string> findOnPath(const std::string& name);

// Starts `program` (looked up through $PATH when it holds no "/") in a session of its own,
// standard input, output and error on /dev/null and default signal handling, so nothing it
// prints reaches the host's output and it outlives the host. Answers its pid, or nullopt when
// it could not be started. The caller reaps it.
std::optional<pid_t> startDetached(const std::string& program,
                                   const std::vector<std::string>& arguments);

// Waits for the child `pid` to end and collects it. Blocks: call it off the main loop.
void reapChild(pid_t pid);

}  // namespace nimbra
