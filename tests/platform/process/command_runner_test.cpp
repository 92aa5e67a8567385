#include "platform/process/command_runner.h"

#include <sys/wait.h>

#include "support/deletion_fixtures.h"

namespace nimbra::test {
namespace {

TEST(SpawnCommandRunner, AnswersStandardOutputAsWrittenWithNoShellBetweenEvenUnderAFloodOfErrors) {
  SpawnCommandRunner runner;
  // The output untrimmed, the status ignored.
  EXPECT_EQ(runner.run("/bin/sh", {"-c", "printf 'a\\n'; exit 1"}), "a\n");
  EXPECT_EQ(
      runner.run("/usr/bin/printf", {"%s|", "$(echo hi)", "a b", "`id`", "'q'", "-n", "x\ny"}),
      "$(echo hi)|a b|`id`|'q'|-n|x\ny|");
  EXPECT_EQ(runner.run("/nonexistent/program", {}), "");
  EXPECT_EQ(runner.run("/bin/sh", {"-c", "printf 'ok\\377'"}), "");  // not UTF-8
  // The checked run tells a failure, with the child's own words, from a success.
  EXPECT_EQ(runner.runChecked("/bin/sh", {"-c", "printf out; echo ' why ' >&2; exit 2"}),
      (CheckedOutput{false, "out", "why"}));
  EXPECT_EQ(runner.runChecked("/bin/sh", {"-c", "printf out; echo noise >&2"}),
      (CheckedOutput{true, "out", ""}));
  EXPECT_EQ(runner.runChecked("/nonexistent/program", {}),
      (CheckedOutput{false, "", "No such file or directory"}));

  // A child flooding standard error never stalls and is reaped.
  const long descriptors = entryCount("/proc/self/fd");
  // 8 MiB on stderr around a little stdout, then 3 MB of stdout: far beyond any pipe buffer.
  const std::string flood = "head -c 4194304 /dev/zero | tr '\\000' e >&2";
  EXPECT_EQ(runner.run("/bin/sh", {"-c", flood + "; printf first; " + flood + "; printf ' last'"}),
      "first last");
  EXPECT_EQ(runner.run("/bin/sh", {"-c", "head -c 3000000 /dev/zero | tr '\\000' o; " + flood}),
      std::string(3000000, 'o'));
  int status;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);  // no child left behind
  EXPECT_EQ(entryCount("/proc/self/fd"), descriptors);
}

}  // namespace
}  // namespace nimbra::test
