#include "ops/startup/startup_items.h"

#include "ops/startup/list_startup_items.h"
#include "ops/startup/remove_startup_item.h"
#include "ops/startup/set_startup_item.h"

#include <regex>

#include "platform/process/launchctl_program.h"
#include "support/deletion_fixtures.h"

namespace nimbra::test {
namespace {

using ::testing::ElementsAre;

std::string job(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries +
         "</dict></plist>\n";
}
std::string key(const std::string& name, const std::string& value) {
  return "<key>" + name + "</key>" + value;
}
std::string text(const std::string& value) { return "<string>" + value + "</string>"; }

ValueMap item(const std::string& id, const std::string& name, const std::string& path,
    const std::string& kind, bool enabled, bool runAtLoad, bool editable) {
  return {{"id", id}, {"name", name}, {"path", path}, {"kind", kind}, {"enabled", enabled},
      {"runAtLoad", runAtLoad}, {"editable", editable}};
}

TEST(StartupInventory, ReadsEveryJobFileByItsFolderRules) {
  TempTree tree;
  const std::vector<LaunchSource> sources = {{tree.makeDir("agents"), kUserAgentKind, true},
      {tree.makeDir("global"), kGlobalAgentKind, false},
      {tree.makeDir("daemons"), kDaemonKind, false},
      {tree.path("missing"), kDaemonKind, false}};  // gives nothing
  const std::string on = "<true/>", off = "<false/>";
  // The launch service knows com.a.b, which com.a only begins.
  const std::string loaded = "com.a.b.service loaded active running B\n";
  const std::string a = tree.write("agents/com.a.plist",
      job(key("Label", text("com.a")) + key("Program", text("/bin/a")) + key("RunAtLoad", on)));
  const std::string noLabel =
      tree.write("agents/com.example.job.plist", job(key("Program", text("/bin/x"))));
  const std::string emptyLabel =
      tree.write("agents/empty-label.plist", job(key("Label", text(""))));
  const std::string hidden = tree.write("agents/.hidden.plist", "\x01 not a property list");
  for (const char* notAJob : {"agents/job.PLIST", "agents/job.plist.bak"})
    tree.write(notAJob, job(""));
  const std::string offAgent = tree.write(
      "agents/com.a.b.off.plist", job(key("Label", text("com.a.b")) + key("Disabled", on)));
  const std::string offGlobal =
      tree.write("global/off.plist", job(key("Disabled", on) + key("RunAtLoad", text("yes"))));
  const std::string daemon = tree.write("daemons/d.plist",
      job(key("Label", text("com.d")) + key("Disabled", off) + key("RunAtLoad", on)));

  const ValueList items = launchJobItems(sources, loaded);
  EXPECT_THAT(items,
      ::testing::UnorderedElementsAre(item(a, "com.a", "/bin/a", kUserAgentKind, false, true, true),
          item(noLabel, "com.example.job", "/bin/x", kUserAgentKind, false, false, true),
          item(emptyLabel, "", "", kUserAgentKind, false, false, true),
          item(hidden, ".hidden", "", kUserAgentKind, false, false, true),
          item(offAgent, "com.a.b", "", kUserAgentKind, false, false, true),
          item(offGlobal, "off", "", kGlobalAgentKind, false, false, false),
          item(daemon, "com.d", "", kDaemonKind, true, true, false)));
  // Grouped by folder, in the order of the sources.
  std::string kinds;
  for (const Value& entry : items)
    kinds += std::get<std::string>(entry.getIf<ValueMap>()->at("kind").variant())[0];
  EXPECT_TRUE(std::regex_match(kinds, std::regex("u{5}gd"))) << kinds;
}

// Through the real script runner: each autostart entry is one login item,
// whatever its name holds, and is removed by its id alone (a link, never its target). What
// cannot be an entry (a FIFO, a link to a device, a hidden entry, another file) is left out;
// what is too large to read is named after its file.
TEST(LoginItems, EachEntryIsOneItemWhoseIdRemovesItAlone) {
  TempTree tree;
  const auto entry = [&](const std::string& file, const std::string& name) {
    return tree.write("autostart/" + file, "[Desktop Entry]\nName=" + name + "\nExec=x\n");
  };
  const std::string legit = entry("a-legit.desktop", "Twin");
  const std::string odd = tree.write("autostart/b.desktop",
      "# x\n[Desktop Entry]\nName = Say \"hi\",\\s\\\\ A, /b.desktop\n[Desktop Action x]\nName=No\n");
  const std::string latin1 = entry("c.desktop", "Caf\xe9");
  const std::string huge = tree.sparseFile("autostart/d.desktop", int64_t{600} << 20);
  ASSERT_EQ(::mkfifo(tree.path("autostart/e.desktop").c_str(), 0644), 0);
  tree.symlink("/dev/urandom", "autostart/f.desktop");
  tree.write("autostart/g.desktop", "[Desktop Entry]\nName=Gone\nHidden=true\n");
  const std::string linked = tree.symlink(
      tree.write("elsewhere.desktop", "[Desktop Entry]\nName=Linked\n"), "autostart/h.desktop");
  entry("notes.txt", "Not an entry");
  const std::string planted = entry("z-planted.desktop", "Twin");

  FixedCommandRunner commands;
  ShellScriptRunner scripts({.autostartFolder = tree.path("autostart")});
  TestContext context({.home = tree.path("home"), .library = tree.path("Library")},
      {.commands = &commands, .scripts = &scripts});
  const ValueMap listing = listStartupItems(*context);
  ValueList logins;
  for (const Value& it : *listing.at("items").getIf<ValueList>()) {
    if (it.getIf<ValueMap>()->at("kind") == Value(kLoginItemKind)) logins.push_back(it);
  }
  const auto login = [](const std::string& path, const std::string& name) {
    return Value(item(path, name, path, kLoginItemKind, true, true, true));
  };
  EXPECT_EQ(json(Value(logins)),
      json(Value(ValueList{login(legit, "Twin"), login(odd, R"(Say "hi", \ A, /b.desktop)"),
          login(latin1, "Caf\uFFFD"), login(huge, "d"), login(linked, "Linked"),
          login(planted, "Twin")})));

  const auto remove = [&](const std::string& id) {
    return json(removeStartupItem(*context, id, kLoginItemKind));
  };
  EXPECT_THAT(remove("Twin"), ::testing::HasSubstr("Several login items"));
  EXPECT_EQ(remove("Nope"), R"({"error":"Can't get login item \"Nope\".","ok":false})");
  for (const std::string& id : {planted, std::string("Linked")})
    EXPECT_EQ(remove(id), R"({"error":"","ok":true})");
  EXPECT_TRUE(present(legit) && !present(planted) && !present(linked) &&
              present(tree.path("elsewhere.desktop")));
}

// The control operations at the runner seams: which scripts each kind sends, and what it
// answers. The administrator is never there (every script fails). The user's own agents, run
// with the user's rights, are switched and removed end to end by the host's tests.
class StartupControlTest : public ::testing::Test {
 protected:
  std::string set(const std::string& id, const std::string& kind, bool enabled = true) {
    return json(setStartupItem(*context, id, kind, enabled));
  }
  std::string remove(const std::string& id, const std::string& kind) {
    return json(removeStartupItem(*context, id, kind));
  }

  TempTree tree;
  const std::string copies = tree.makeDir("tmp");
  FixedCommandRunner commands;
  RecordingScriptRunner scripts;
  TestContext context{
      {.home = tree.path("home"), .temporary = copies + "/", .library = tree.path("Library")},
      {.commands = &commands, .scripts = &scripts}};
};

// A job for all users: the edited copy is installed and the job unloaded as administrator, in
// the user's domain; a quote in the path stays inside its word. Daemons go to the system
// domain; a file that cannot be read is only loaded.
TEST_F(StartupControlTest, JobsForAllUsersAndDaemonsAreSwitchedAndRemovedAsAdministrator) {
  NIMBRA_SKIP_UNLESS_ROOT("a job file for all users is switched only when it is root's");
  const std::string global = tree.write("Library/LaunchAgents/it's \"x\".plist",
      job(key("Label", text("com.x")) + key("Blob", "<data>AAEC</data>")));
  std::string copied;
  scripts.onRun = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(copies))
      copied = readFile(entry.path());
  };
  EXPECT_EQ(set(global, "", false), R"({"error":"User canceled.","ok":false})");
  const std::string daemon =
      tree.write("Library/LaunchDaemons/daemon.plist", "not a property list");
  EXPECT_EQ(set(daemon, kDaemonKind), R"({"error":"User canceled.","ok":false})");

  ASSERT_EQ(scripts.scripts.size(), 3u);
  const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  // The copy's name is fresh each time.
  scripts.scripts[0] = std::regex_replace(scripts.scripts[0], uuid, "UUID");
  const std::string quoted = "'" + tree.path("Library/LaunchAgents") + R"(/it'\\''s \"x\".plist')";
  const std::string admin = "\" with administrator privileges";
  EXPECT_THAT(scripts.scripts,
      ElementsAre(R"(do shell script "cp ')" + copies + "/UUID.plist' " + quoted +
                      " && chown root:wheel " + quoted + admin,
          R"(do shell script "launchctl bootout )" + guiDomain(::getuid()) + " " + quoted + admin,
          R"(do shell script "launchctl bootstrap system ')" + daemon + "'" + admin));
  EXPECT_THAT(copied, ::testing::AllOf(::testing::HasSubstr("<key>Disabled</key>\n\t<true/>"),
                          ::testing::HasSubstr("<data>")));
  EXPECT_EQ(entryCount(copies), 0) << "the copy is gone once installed";
  EXPECT_EQ(commands.runs, 0);

  // Deletion that fails even for the administrator (a root folder keeps the file from nobody) is
  // a failed removal. A file of nobody's is not switched: the deletion's attempt is the one script.
  const std::string stuck = tree.write("Library/LaunchDaemons/d.plist", "not a property list");
  tree.giveToNobody();
  ::chown(tree.path("Library/LaunchDaemons").c_str(), 0, 0);
  EXPECT_EQ(runUnprivileged([&] {
    const std::string answer = remove(stuck, kDaemonKind);
    return answer + " after " + std::to_string(scripts.scripts.size());
  }),
      R"({"error":"","ok":false} after 4)");
  EXPECT_TRUE(present(stuck));
}

TEST_F(StartupControlTest, LoginItemsAndIdsThatNameNoJobFileRunNothingButTheirScript) {
  EXPECT_EQ(set("A", kLoginItemKind), R"({"error":"Login items can only be removed","ok":false})");
  const std::string daemons = tree.path("Library/LaunchDaemons");
  for (const std::string& id :
      std::vector<std::string>{"job.plist", "-rf", "", std::string("/a.plist\0/b", 11),
          daemons + "/sub/x.plist", daemons + "/x.plist.bak", daemons, daemons + "/",
          daemons + "//x.plist", daemons + "/x" + std::string(1, '\0') + ".plist"}) {
    EXPECT_THAT(set(id, kDaemonKind), ::testing::StartsWith(R"({"error":"not the path)"));
    EXPECT_THAT(remove(id, kDaemonKind), ::testing::StartsWith(R"({"error":"not the path)"));
  }
  EXPECT_EQ(
      remove(R"(Say "hi" \ now)", kLoginItemKind), R"({"error":"User canceled.","ok":false})");
  EXPECT_THAT(scripts.scripts,
      ElementsAre(R"(tell application "System Events" to delete login item "Say \"hi\" \\ now")"));
  EXPECT_EQ(commands.runs, 0);
}

}  // namespace
}  // namespace nimbra::test
