#pragma once

// The one way the service starts a child process: posix_spawn, no shell in between, both
// output pipes drained side by side, the child always reaped.

#include <string>
#include <vector>

namespace nimbra {

struct ChildOutcome {
  // False when the child could not be started; `launchError` then holds the errno.
  bool launched = false;
  int launchError = 0;
  // True when the child exited on its own with status 0.
  bool exitedZero = false;
  std::string out;
  std::string err;
};

struct ChildOptions {
  // Whether to keep what the child writes to standard error; it is drained either way, so a
  // child that writes megabytes there never stalls.
  bool keepStandardError = true;
};

// Starts `program` (an absolute path) with `arguments` as argv[1...], inheriting the
// environment, working directory and standard input. Blocks until the child has exited and
// both of its output pipes are at their end.
ChildOutcome runChild(const std::string& program, const std::vector<std::string>& arguments,
                      ChildOptions options = {});

}  // namespace nimbra
