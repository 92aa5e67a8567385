#pragma once

#include <optional>
#include <string>
#include <utility>

namespace nimbra {

// Outcome of one script: ok, and the trimmed output (on success) or error text (on failure);
// the text is absent when it was not valid UTF-8.
struct ScriptResult {
  bool ok = false;
  std::optional<std::string> text;
  friend bool operator==(const ScriptResult&, const ScriptResult&) = default;
};

// Runs one script of the kinds the service sends (shell commands, optionally with
// administrator privileges, and the login-item scripts). The seam for tests.
class ScriptRunner {
 public:
  virtual ~ScriptRunner() = default;
  // Blocks until the script has finished.
  virtual ScriptResult runScript(const std::string& script) = 0;
};

}  // namespace nimbra

namespace nimbra {

struct ShellScriptRunnerOptions {
  // The polkit helper that runs administrator commands for an unprivileged user.
  std::string pkexec = "/usr/bin/pkexec";
  // The login items' folder; empty for autostartFolder(), read at each script.
  std::string autostartFolder{};
};

// The real runner. Understands exactly the scripts the service sends:
//   do shell script "CMD"                                   -> /bin/sh -c CMD
//   do shell script "CMD" with administrator privileges     -> as root: directly when already
//                                                              root, else through pkexec
//   the two "System Events" login-item scripts             -> XDG autostart entries: the
//                                                              listing answers {{names}, {paths}}
//                                                              in source form; an item is deleted
//                                                              by its path, or by a name no other
//                                                              item has
// Anything else fails with a syntax-error text.
class ShellScriptRunner final : public ScriptRunner {
 public:
  explicit ShellScriptRunner(ShellScriptRunnerOptions options = {})
      : options_(std::move(options)) {}
  ScriptResult runScript(const std::string& script) override;

 private:
  ShellScriptRunnerOptions options_;
};

}  // namespace nimbra
