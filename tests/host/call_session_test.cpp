// `nimbra call` run as a child process: what it prints where and its exit statuses, and the
// methods that read or change the machine, end to end on a temporary home. The machine's
// /Applications and /Library are only read; recording systemd programs stand behind the
// launchctl stand-in, and stand-ins for the desktop's programs come first on PATH: no real
// file manager, browser or dialog is ever started.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "host_process.h"
#include "support/deletion_fixtures.h"
#include "support/stand_ins.h"
#include "support/temp_tree.h"
#include "support/test_seams.h"

namespace nimbra::test {
namespace {

using Json = nlohmann::json;
using ::testing::ElementsAre;
using ::testing::FieldsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

// The arguments arrive typed (a list of strings, a bool) or the deletion would not happen. Without
// --events, and with stderr no terminal, only the answer is printed.
TEST(
    CallCommand, TheAnswerDecidesOutputAndStatusEventsGoToStderrAndUnusableCommandLinesRunNothing) {
  EXPECT_EQ(runHost({"call", "cancel"}), HostRun(0, "true\n", ""));
  EXPECT_EQ(runHost({"call", "noSuchMethod", R"({"path":"/"})"}),
      HostRun(3, "", "nimbra: not implemented: noSuchMethod\n"));
  TempTree tree;
  tree.touch("doomed/file.bin", 4000);
  const auto event = [](const std::string& path) {
    return R"({"bytes":4000,"count":1,"path":")" + path + "\",\"task\":\"delete\"}\n";
  };
  EXPECT_EQ(runHost({"call", "deleteItems",
                R"({"paths":[")" + tree.path("doomed") + R"("],"allowAdmin":false})", "--events"}),
      HostRun(0,
          R"({"error":"","failed":[],"freed":4000,"inTrash":[],"inTrashBytes":0})" +
              std::string("\n"),
          event(tree.path("doomed")) + event("")));
  const std::pair<std::vector<std::string>, std::string> unusable[] = {
      {{"call", "cancel", "{bad json"}, "nimbra: ARGS_JSON"},
      {{"call", "cancel", "--bogus"}, "nimbra: "},
      {{"call", "cancel", R"({"a":1} trailing)"}, "nimbra: ARGS_JSON"}, {{"call"}, "nimbra: "},
      {{"call", "cancel", "{}", "extra"}, "nimbra: "}, {{}, "nimbra: "}};
  for (const auto& [arguments, complaint] : unusable) {
    EXPECT_THAT(runHost(arguments), FieldsAre(2, "", StartsWith(complaint)));
  }
  // The commands as people reach them: help by name, and a near miss named.
  EXPECT_EQ(runHost({"tre", "/"}),
      HostRun(2, "", "nimbra: unknown command 'tre' (did you mean 'tree'?)\n"));
  const HostRun help = runHost({"tree", "--help"});
  EXPECT_THAT(help, FieldsAre(0, HasSubstr("Usage: nimbra tree"), ""));
  EXPECT_EQ(runHost({"help", "tree"}), help);
}

constexpr const char* kAgent = R"(<plist version="1.0"><dict>
  <key>Label</key><string>com.x</string>
  <key>ProgramArguments</key><array><string>/usr/bin/x</string></array>
  <key>RunAtLoad</key><true/>
</dict></plist>)";

// A user agent listed, disabled and removed; then, as root, a daemon removed through the real
// administrator route.
TEST(StartupItemsCall, ListDisableAndRemoveAUserAgentThenADaemonAsAdministrator) {
  TempTree tree;
  SystemdRecorder systemd{"com.x.service loaded active running X\n"};
  ScopedEnv home{"HOME", tree.makeDir("home")};
  ScopedEnv data{"XDG_DATA_HOME", tree.path("home/.local/share")};
  ScopedEnv config{"XDG_CONFIG_HOME", tree.path("config")};
  ScopedEnv tmpdir{"TMPDIR", tree.makeDir("tmp")};
  const std::string agent = tree.write("home/Library/LaunchAgents/com.x.plist", kAgent);
  const std::string login =
      tree.write("config/autostart/notes.desktop", "[Desktop Entry]\nName=Notes\nExec=notes\n");
  EXPECT_EQ(runHost({"call", "listStartupItems"}),
      HostRun(0,
          R"({"items":[{"editable":true,"enabled":true,"id":")" + agent +
              R"(","kind":"userAgent","name":"com.x","path":"/usr/bin/x","runAtLoad":true},)"
              R"({"editable":true,"enabled":true,"id":")" +
              login + R"(","kind":"loginItem","name":"Notes","path":")" + login +
              R"(","runAtLoad":true}]})" + "\n",
          ""));
  const std::string id = R"({"id":")" + agent + R"(","kind":"userAgent")";
  EXPECT_EQ(runHost({"call", "setStartupItem", id + R"(,"enabled":false})"}),
      HostRun(0, "{\"ok\":true,\"output\":\"\"}\n", ""));
  EXPECT_THAT(readFile(agent), HasSubstr("<key>Disabled</key>\n\t<true/>"));
  EXPECT_THAT(runHost({"call", "removeStartupItem", id + "}", "--events"}),
      FieldsAre(0, "{\"error\":\"\",\"ok\":true}\n", HasSubstr(R"("path":"","task":"delete")")));
  EXPECT_FALSE(present(agent));
  EXPECT_EQ(entryCount(tree.path("home/.local/share/Trash/files")), 0);
  // An agent the launch service refuses to load (here a label systemd would read as a unit of
  // another type) is not reported switched on.
  const std::string timer =
      tree.write("t.plist", R"(<plist><dict><key>Label</key><string>t.timer</string>
    <key>Program</key><string>/bin/t</string></dict></plist>)");
  EXPECT_THAT(runHost({"call", "setStartupItem", R"({"kind":"userAgent","id":")" + timer + "\"}"}),
      FieldsAre(0,
          AllOf(StartsWith(R"({"error":"launchctl: )"), HasSubstr("cannot name a systemd unit"),
              HasSubstr(R"("ok":false)")),
          ""));
  const std::string stop = "systemctl|--user|stop|com.x.service|";
  EXPECT_THAT(systemd.calls(),
      ElementsAre("systemctl|--user|list-units|--all|--plain|--no-legend|--no-pager|", stop, stop));

  NIMBRA_SKIP_UNLESS_ROOT("administrator scripts run without a password prompt only as root");
  const std::string daemon = tree.write("daemons/com.d.plist",
      R"(<plist><dict><key>Label</key><string>com.d</string></dict></plist>)");
  const std::string neighbour = tree.write("daemons/com.e.plist", "");
  EXPECT_EQ(runHost({"call", "removeStartupItem", R"({"id":")" + daemon + R"(","kind":"daemon"})"}),
      HostRun(0, "{\"error\":\"\",\"ok\":true}\n", ""));
  EXPECT_FALSE(present(daemon));
  EXPECT_TRUE(present(neighbour));
  EXPECT_THAT(systemd.calls(), ::testing::Contains("systemctl|stop|com.d.service|"));
  EXPECT_EQ(entryCount(tree.path("tmp")), 0);

  // Jobs for all users that root did not write alone are refused before anything runs: nothing
  // is written through a link, nothing of another user's is started as root. Removal still
  // takes the link away, and leaves its target as it was.
  const std::string target = tree.write("elsewhere/com.t.plist", kAgent);
  const std::string linked = tree.symlink(target, "daemons/com.t.plist");
  const std::string planted = tree.write("daemons/com.p.plist", kAgent);
  ASSERT_EQ(::chown(planted.c_str(), nobodyUid(), nobodyGid()) | ::chmod(planted.c_str(), 0666), 0);
  const size_t calls = systemd.calls().size();
  EXPECT_THAT(runHost({"call", "setStartupItem", R"({"kind":"daemon","id":")" + planted + "\"}"}),
      FieldsAre(0, HasSubstr(planted + ": a launch job for all users must be owned by root"), ""));
  EXPECT_EQ(runHost({"call", "removeStartupItem", R"({"kind":"daemon","id":")" + linked + "\"}"}),
      HostRun(0, "{\"error\":\"\",\"ok\":true}\n", ""));
  EXPECT_FALSE(present(linked));
  EXPECT_EQ(readFile(target) + readFile(planted), std::string(kAgent) + kAgent);
  EXPECT_EQ(systemd.calls().size(), calls);
}

// What the in-process tests, on described machines, leave to the real one: its sources answer
// in the types the interface reads. revealPath, openPath and pickFolder answer below, with
// stand-ins for what they start.
TEST(DesktopCall, TheRealMachinesFactsArriveInTheirTypes) {
  const auto call = [](const char* method) {
    return Json::parse(std::get<1>(runHost({"call", method})), nullptr, /*allow_exceptions=*/false);
  };
  Json system = call("systemInfo");
  EXPECT_TRUE(system["user"].is_string() && system["home"].is_string() &&
              system["cores"].is_number_integer() && system["uptime"].is_number_integer())
      << system;
  EXPECT_THAT(system.value("osVersion", ""), MatchesRegex("[0-9]+\\.[0-9]+\\.[0-9]+"));
  EXPECT_EQ(system.value(Json::json_pointer("/disks/0/path"), ""), "/") << system;
  // The real process list, read through ps.
  Json process = call("memoryInfo").value(Json::json_pointer("/topProcesses/0"), Json::object());
  EXPECT_TRUE(process["pid"].is_number_integer() && process["name"].is_string() &&
              process["mem"].is_number_integer());
}

TEST(DesktopCall, FolderPickerAnswersThePanelsChoiceOrNull) {
  // The zenity and kdialog stand-ins' bodies after they record (nullptr: not installed), whether
  // a display is set, the answer, and what was started. Only a panel that exits 0 having
  // printed an existing folder's absolute path has chosen one.
  const std::tuple<const char*, const char*, bool, const char*, const char*> cases[] = {
      {"printf '/\\n'", "printf '/never\\n'", true, R"("/")",
          "zenity|--file-selection|--directory|"},
      {"echo 'Gtk-WARNING: cannot open display: :99'; echo 'Gtk-WARNING: cannot open display: :99' >&2; exit 1",
          nullptr, true, "null", "zenity|--file-selection|--directory|"},
      {"printf '/nonexistent/nimbra-panel\\n'", nullptr, true, "null",
          "zenity|--file-selection|--directory|"},
      {"printf '/bin/sh\\n'", nullptr, true, "null", "zenity|--file-selection|--directory|"},
      {"printf 'usr\\n'", nullptr, true, "null", "zenity|--file-selection|--directory|"},
      {nullptr, "printf '/usr/bin//\\n'", true, R"("/usr/bin")", "kdialog|--getexistingdirectory|"},
      {nullptr, nullptr, true, "null", ""},
      {"printf '/no/display\\n'", nullptr, false, "null", ""}};
  for (const auto& [zenity, kdialog, display, answer, record] : cases) {
    SCOPED_TRACE(std::string(zenity ? zenity : "-") + " / " + (kdialog ? kdialog : "-"));
    StandIns standIns;
    if (zenity) standIns.addRecording("zenity", zenity);
    if (kdialog) standIns.addRecording("kdialog", kdialog);
    EXPECT_EQ(runHost({"call", "pickFolder"}, "",
                  standIns.environment(display, /*systemPrograms=*/false)),
        HostRun(0, std::string(answer) + "\n", ""));
    // The panel has ended before its answer, so its record is complete.
    EXPECT_EQ(standIns.record(0),
        *record ? std::vector<std::string>{record} : std::vector<std::string>{});
  }
}

TEST(DesktopCall, RevealAndOpenStartTheDesktopsProgramsDetached) {
  StandIns standIns;
  // Both talk on both outputs: none of it may reach the host's.
  const std::string gdbusAnswer = standIns.tree.path("gdbus-status");
  standIns.addRecording("gdbus", "echo noise; echo noise >&2; exit $(cat '" + gdbusAnswer + "')");
  standIns.addRecording("xdg-open", "echo noise; echo noise >&2");
  const std::string odd = "/tmp/a b/#1?x=%25/it's \xC3\xA9t\xC3\xA9";
  const std::string encoded = "file:///tmp/a%20b/%231%3Fx%3D%2525/it%27s%20%C3%A9t%C3%A9";
  auto call = [&](const char* method, const Json& arguments) {
    EXPECT_EQ(runHost({"call", method, arguments.dump()}, "", standIns.environment()),
        HostRun(0, "true\n", ""));
  };

  std::ofstream(gdbusAnswer) << "0";
  call("revealPath", {{"path", odd}});
  const std::string showItems =
      "gdbus|call|--session|--dest|org.freedesktop.FileManager1|--object-path|"
      "/org/freedesktop/FileManager1|--method|org.freedesktop.FileManager1.ShowItems|";
  EXPECT_THAT(standIns.record(1), ElementsAre(showItems + "['" + encoded + "']||"));

  // Neither starts anything without a string path, or with one that names no file (a NUL
  // byte), and both still answer true.
  call("openPath", Json::object());
  call("revealPath", {{"path", 7}});
  call("openPath", {{"path", std::string("/tmp/x\0y", 8)}});
  // Without a file manager on the bus the parent folder opens; the host is gone by then.
  std::ofstream(gdbusAnswer) << "1";
  call("revealPath", {{"path", odd + "/"}});
  call("openPath", {{"path", odd}});
  call("openPath", {{"path", "-n"}});  // a name, not an option
  const std::vector<std::string> lines = standIns.record(5);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 1, lines.end()),
      ::testing::UnorderedElementsAre(showItems + "['" + encoded + "/']||",
          "xdg-open|/tmp/a b/#1?x=%25|", "xdg-open|" + odd + "|", "xdg-open|./-n|"));
}

// The three answer the same whether anything could start; this says which could.
TEST(DesktopCall, AbilitiesNameWhatCanStartInAGraphicalSession) {
  const std::tuple<std::vector<const char*>, bool, const char*> cases[] = {
      {{"zenity", "gdbus"}, true, R"({"openPath":false,"pickFolder":true,"revealPath":true})"},
      {{"kdialog", "xdg-open"}, true, R"({"openPath":true,"pickFolder":true,"revealPath":true})"},
      {{}, true, R"({"openPath":false,"pickFolder":false,"revealPath":false})"},
      {{"zenity", "gdbus", "xdg-open"}, false,
          R"({"openPath":false,"pickFolder":false,"revealPath":false})"}};
  for (const auto& [programs, display, answer] : cases) {
    StandIns standIns;
    for (const char* program : programs) standIns.add(program, "exit 0");
    EXPECT_EQ(runHost({"call", "desktopAbilities"}, "",
                  standIns.environment(display, /*systemPrograms=*/false)),
        HostRun(0, std::string(answer) + "\n", ""))
        << programs.size() << " programs, display " << display;
  }
}

// Each panel records its pid and waits for its answer on a named pipe of its own, so the test
// decides when and in which order they close.
TEST(DesktopCall, ServeAnswersOtherCallsWhilePanelsAreOpenAndEachPanelItsOwnCall) {
  StandIns standIns;
  const std::string pipe = standIns.tree.path("answer.");
  standIns.add("zenity", "mkfifo '" + pipe + "'$$ && echo $$ >> '" + standIns.recordPath() +
                             "' && read -r line < '" + pipe + "'$$ && printf '%s\\n' \"$line\"");
  HostProcess host({"serve", "--json"}, standIns.environment());
  host.send("{\"id\":1,\"method\":\"pickFolder\"}\n{\"id\":2,\"method\":\"pickFolder\"}\n");
  const std::vector<std::string> panels = standIns.record(2);
  ASSERT_EQ(panels.size(), 2u);

  host.send("{\"id\":3,\"method\":\"cancel\"}\n");
  EXPECT_EQ(host.readLine(), R"({"id":3,"result":true})");
  std::set<int64_t> answered;
  const std::string second = standIns.tree.makeDir("second"),
                    first = standIns.tree.makeDir("first");
  const std::tuple<std::string, std::string, std::string> closing[] = {
      {panels[1], second + "/", second}, {panels[0], first, first}};
  for (const auto& [panel, chosen, answer] : closing) {
    std::ofstream(pipe + panel) << chosen << "\n";
    const Json line = Json::parse(host.readLine().value_or(""), nullptr, false);
    EXPECT_EQ(line.value("result", ""), answer) << line;
    answered.insert(line.value("id", int64_t{0}));
  }
  EXPECT_EQ(answered, (std::set<int64_t>{1, 2}));
}

}  // namespace
}  // namespace nimbra::test
