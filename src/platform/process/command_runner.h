#pragma once

#include <string>
#include <vector>

namespace nimbra {

// What `CommandRunner::runChecked` answers.
struct CheckedOutput {
  bool ok = false;     // the child started and exited with status 0
  std::string output;  // its standard output, as `run` answers it
  // On failure: its standard error, trimmed, or why it could not be started; "" when that
  // text is not UTF-8.
  std::string error;
  friend bool operator==(const CheckedOutput&, const CheckedOutput&) = default;
};

// Runs a program and hands back its standard output. The seam for tests: the service holds a
// CommandRunner and never spawns children any other way.
class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  // `program` is an absolute path; `arguments` are passed as separate arguments, no shell.
  // Blocks until the child exits. Answers stdout as written (not trimmed), or "" when the
  // child cannot be started or its output is not UTF-8. Exit status and stderr are ignored.
  virtual std::string run(const std::string& program,
                          const std::vector<std::string>& arguments) = 0;

  // `run` for a caller that must tell a failure from a success and say why. A runner that
  // only knows the output (a test's fake) reports every run as a success.
  virtual CheckedOutput runChecked(const std::string& program,
                                   const std::vector<std::string>& arguments) {
    return {true, run(program, arguments), ""};
  }
};

// The real runner: posix_spawn, both pipes drained side by side, the child always reaped.
class SpawnCommandRunner final : public CommandRunner {
 public:
  std::string run(const std::string& program, const std::vector<std::string>& arguments) override;
  CheckedOutput runChecked(const std::string& program,
                           const std::vector<std::string>& arguments) override;
};

}  // namespace nimbra
