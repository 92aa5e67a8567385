#pragma once

// Helpers shared by the deletion tests: scoped environment variables (the home folder and the
// trash location come from the environment), independent byte counts of real trees, and a
// script runner that records what it is asked to run.

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/json_value.h"
#include "channel/value.h"
#include "platform/script_runner.h"

namespace nimbra::test {

// Sets an environment variable for the life of the object, before any service thread exists.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// What `find PATH -type f -printf '%s\n'` sums: regular files' lengths, links not followed.
inline int64_t findByteSum(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const auto status = fs::symlink_status(path, ec);
  if (ec) return 0;
  if (fs::is_regular_file(status)) return static_cast<int64_t>(fs::file_size(path, ec));
  if (!fs::is_directory(status)) return 0;
  int64_t total = 0;
  for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) total += static_cast<int64_t>(it->file_size(ec));
  }
  return total;
}

// An answer as JSON text, for the messages of tests that run in an unprivileged child.
inline std::string describe(const std::optional<Value>& answer) {
  return answer ? toJsonText(*answer) : "no answer";
}

// Whether anything (a link too) is at `path`.
inline bool present(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

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
