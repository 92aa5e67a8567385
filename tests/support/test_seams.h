#pragma once

// Stand-ins the tests share: an environment variable set for a scope, a command runner that
// answers one fixed text, and a script runner that records what it is asked to run.

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/process/command_runner.h"
#include "platform/process/script_runner.h"

namespace nimbra::test {

// Sets an environment variable for the life of the object, before any service thread exists.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Answers `output` to every command (a process listing, say; by default no job is loaded) and
// counts the commands it was asked to run.
struct FixedCommandRunner final : CommandRunner {
  std::string run(const std::string&, const std::vector<std::string>&) override {
    return ++runs, output;
  }
  std::string output;
  int runs = 0;
};

// Records every script and answers what the test says; `onRun` may act first (for example,
// do what an administrator would have done).
class RecordingScriptRunner final : public ScriptRunner {
 public:
  ScriptResult answer{false, std::string("User canceled.")};
  std::function<void()> onRun;
  std::vector<std::string> scripts;

  ScriptResult runScript(const std::string& script) override {
    scripts.push_back(script);
    if (onRun) onRun();
    return answer;
  }
};

}  // namespace nimbra::test
