#include "platform/process/script_runner.h"

#include "platform/process/launchctl_program.h"
#include "support/deletion_fixtures.h"
#include "support/stand_ins.h"

namespace nimbra {

std::string describe(const ScriptResult& result) {
  return std::string(result.ok ? "{ok, " : "{failed, ") +
         (result.text ? "\"" + *result.text + "\"}" : "absent}");
}
void PrintTo(const ScriptResult& result, std::ostream* out) { *out << describe(result); }

namespace {

using namespace test;

ScriptResult runScript(const std::string& script) { return ShellScriptRunner().runScript(script); }

TEST(ShellScriptRunner, ShellCommandAnswersItsTrimmedOutputOrErrorText) {
  EXPECT_EQ(
      runScript(R"(do shell script "printf '  value  \\n\\n'")"), (ScriptResult{true, "value"}));
  EXPECT_EQ(runScript(R"(do shell script "printf '\\377'")"), (ScriptResult{true, std::nullopt}));
  EXPECT_EQ(runScript(R"(do shell script "echo out; echo '  it broke ' >&2; exit 3")"),
      (ScriptResult{false, "it broke"}));
  EXPECT_EQ(runScript(R"(do shell script "exit 1")"), (ScriptResult{false, ""}));
  for (const std::string script : {R"(display dialog "hi")", R"(do shell script "unterminated)",
           R"(do shell script "x" with admin)", R"(do shell script "a\qb")"}) {
    const ScriptResult result = runScript(script);
    EXPECT_FALSE(result.ok) << script;
    EXPECT_THAT(result.text.value_or(""), ::testing::HasSubstr("syntax error")) << script;
  }
}

// The administrator scripts say `launchctl`; where the machine has none the runner finds the
// stand-in for them, also through pkexec, whose reset environment no longer names its folder.
// As root the command needs no pkexec: the host's removal of a daemon runs that case.
TEST(ShellScriptRunner,
    AdministratorCommandRunsThroughPkexecWhenNotRootAndFindsTheLaunchctlStandIn) {
  NIMBRA_SKIP_UNLESS_ROOT("the command runs as nobody");
  if (::access(kSystemLaunchctl, X_OK) == 0) GTEST_SKIP() << "this machine has its own launchctl";
  TempTree tree;
  SystemdRecorder systemd("unit.service\n");
  const std::string script =
      R"(do shell script "launchctl print system" with administrator privileges)";
  // A stand-in for pkexec that notes how it was called, resets the environment as the real
  // one does, and runs the command.
  const std::string calls = tree.path("calls");
  const std::string fake = tree.write(
      "pkexec", "#!/bin/sh\nprintf '%s|' \"$@\" > '" + calls +
                    "'\nexec /usr/bin/env -i PATH=" + systemd.bin() + ":/usr/bin:/bin \"$@\"\n");
  ::chmod(fake.c_str(), 0755);
  tree.giveToNobody();
  systemd.tree.giveToNobody();
  const std::string answers = runUnprivileged([&] {
    return describe(ShellScriptRunner({.pkexec = fake}).runScript(script)) + "; " +
           describe(ShellScriptRunner({.pkexec = tree.path("missing")}).runScript(script));
  });
  EXPECT_THAT(answers, ::testing::StartsWith("{ok, \"unit.service\"}; {failed, \""));
  EXPECT_THAT(answers, ::testing::HasSubstr("administrator privileges are not available"));
  // The command itself is the shell's last argument (after the stand-in's folder, if any).
  EXPECT_THAT(readFile(calls), ::testing::AllOf(::testing::StartsWith("/bin/sh|-c|"),
                                   ::testing::EndsWith("|launchctl print system|")));
  EXPECT_EQ(systemd.calls().size(), 1u);
}

}  // namespace
}  // namespace nimbra
