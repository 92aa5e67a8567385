#include "platform/process/script_grammar.h"

#include "platform/formats/script_literal.h"
#include "platform/process/child_process.h"
#include "support/deletion_fixtures.h"

namespace nimbra::test {
namespace {

// Every script built around hostile text reads back to that text, and the shell sees each path
// of a command as one word: the administrator removal, run for real as root by the real runner,
// removes exactly its paths (inside this tree) and runs none of them as a command.
TEST(ScriptGrammar, HostileTextRoundTripsThroughEveryScriptAndTheShell) {
  EXPECT_EQ(adminRemovalScript({"-rf", "/x"}),
      R"(do shell script "rm -rf -- '-rf' '/x'" with administrator privileges)");
  TempTree tree;
  const std::string marker = tree.path("pwned");  // what any name run as a command would leave
  ScopedEnv markerVariable("NIMBRA_MARKER", marker);
  const std::vector<std::string> names = {"it's", "say \"hi\"", "back\\slash",
      "$(touch \"$NIMBRA_MARKER\")", "`touch \"$NIMBRA_MARKER\"`", "two  spaces", "-rf",
      "new\nline", "trailing\\", "mix '\"\\$`;|&"};
  std::vector<std::string> paths;
  for (const std::string& name : names) {
    paths.push_back(tree.path("victims/" + name));
    EXPECT_EQ(readScript(deleteLoginItemScript(name)), ScriptRequest(DeleteLoginItem{name}));
    EXPECT_EQ(readScript(launchctlScript("bootout", "system", name)),
        ScriptRequest(ShellCommand{"launchctl bootout system " + shellQuoted(name), true}));
  }
  size_t end = 0;
  EXPECT_EQ(readAppleScriptList(appleScriptList(names), end), names);
  EXPECT_EQ(readScript(kListLoginItemsScript), ScriptRequest(ListLoginItems{}));
  EXPECT_EQ(readScript(kPurgeMemoryScript),
      ScriptRequest(ShellCommand{"sync; echo 3 > /proc/sys/vm/drop_caches", true}));

  std::vector<std::string> words = {"--"};
  words.insert(words.end(), names.begin(), names.end());
  const std::optional<ScriptRequest> removal = readScript(adminRemovalScript(names));
  const auto* command = removal ? std::get_if<ShellCommand>(&*removal) : nullptr;
  ASSERT_TRUE(command && command->asAdministrator && command->command.starts_with("rm -rf "));
  const std::string printed =
      runChild("/bin/sh", {"-c", "printf '%s\\0' " + command->command.substr(7)}).out;
  std::vector<std::string> split;
  for (size_t at = 0; at < printed.size(); at = printed.find('\0', at) + 1)
    split.emplace_back(printed.c_str() + at);
  EXPECT_EQ(split, words);

  // CI runs as root, so the script really runs rm -rf: everything stays inside this tree.
  NIMBRA_SKIP_UNLESS_ROOT("the administrator script runs rm for real only as root");
  // The pieces a name would split into, and a sibling of each name, must survive.
  std::vector<std::string> survivors = {
      "it", "s", "say", "-", "two", "spaces", "mix", "new", "line"};
  for (size_t i = 0; i < names.size(); ++i) {
    tree.touch("victims/" + names[i] + (i % 2 ? "" : "/inner"), 1);  // files and folders alike
    survivors.push_back(names[i] + " sibling");
  }
  for (const auto& survivor : survivors) tree.touch("victims/" + survivor, 1);
  EXPECT_EQ(ShellScriptRunner().runScript(adminRemovalScript(paths)), (ScriptResult{true, ""}));
  for (const auto& path : paths) EXPECT_FALSE(present(path)) << path;
  for (const auto& survivor : survivors)
    EXPECT_TRUE(present(tree.path("victims/" + survivor))) << survivor;
  EXPECT_FALSE(present(marker));
}

}  // namespace
}  // namespace nimbra::test
