#pragma once

#include <string>
#include <vector>

namespace nimbra {

// Runs a program and hands back its standard output. The seam for tests: the service holds a
// CommandRunner and never spawns children any other way.
class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  // `program` is an absolute path; `arguments` are passed as separate arguments, no shell.
  // Blocks until the child exits. Answers stdout as written (not trimmed), or "" when the
  // child cannot be started or its output is not UTF-8. Exit status and stderr are ignored.
  virtual std::string run(const std::string& program, const std::vector<std::string>& arguments) = 0;
};

// The real runner: posix_spawn, both pipes drained side by side, the child always reaped.
class SpawnCommandRunner final : public CommandRunner {
 public:
  std::string run(const std::string& program, const std::vector<std::string>& arguments) override;
};

}  // namespace nimbra
