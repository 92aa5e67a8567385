// `nimbra call` run as a child process: what it prints where and its exit statuses, and the
// methods that read or change the machine, end to end on a temporary home. The machine's
// /Applications and /Library are only read; recording systemd programs stand behind the
// launchctl stand-in, and stand-ins for the desktop's programs come first on PATH: no real
// file manager, browser or dialog is ever started.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

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
using ::testing::_;
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

// A stop and a continue leave a signal pending while the kernel lists a directory, and it then
// answers with fewer entries than remain: a walker that took that for the end lost entries each
// time (Ctrl-Z and fg during a scan). Stopped and continued over and over, the measurement is
// still exact.
TEST(CallCommand, AWalkStoppedAndContinuedOverAndOverMissesNothing) {
  TempTree tree;
  constexpr int kFolders = 40, kFiles = 1500;  // several listings a folder
  for (int folder = 0; folder < kFolders; ++folder) {
    const std::string dir = tree.makeDir("d" + std::to_string(folder)) + "/";
    for (int file = 0; file < kFiles; ++file) {
      const int fd = ::open(
          (dir + "file-" + std::to_string(file)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      ASSERT_TRUE(fd >= 0 && ::write(fd, "x", 1) == 1);
      ::close(fd);
    }
  }
  for (int round = 0; round < 2; ++round) {
    HostProcess host({"call", "sizeOf", R"({"path":")" + tree.root() + R"("})"});
    for (siginfo_t ended{};
         ::waitid(P_PID, static_cast<id_t>(host.pid()), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         ended.si_pid == 0;) {
      ::kill(host.pid(), SIGSTOP);
      ::usleep(1000);
      ::kill(host.pid(), SIGCONT);
      ::usleep(2000);
    }
    EXPECT_EQ(host.readLine(), R"({"size":)" + std::to_string(kFolders * kFiles) +
                                   R"(,"unreadable":0,"unreadableFolders":[]})");
  }
}

constexpr const char* kAgent = R"(<plist version="1.0"><dict>
  <key>Label</key><string>com.x</string>
  <key>ProgramArguments</key><array><string>/usr/bin/x</string></array>
  <key>RunAtLoad</key><true/>
</dict></plist>)";

// A user agent listed, disabled and removed; then, as root, a daemon removed through the real
// administrator route, on a machine whose /Library is the test's (a private mount namespace).
// What is no launch job file of its kind is refused before anything runs, and stays.
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

  // A document, a folder, a path that leaves the agents' folder by "..", the agent named as a
  // job of another kind (for root, one it would switch and delete as administrator).
  const std::string document = tree.write("home/Documents/old.plist", "mine");
  const std::string photo = tree.write("home/Pictures/2024/beach.jpg", "photo");
  tree.touch("home/Library/LaunchAgents/folder.plist/kept", 1);
  const std::pair<std::string, std::string> notJobs[] = {{document, "userAgent"},
      {tree.path("home/Pictures"), "userAgent"},
      {tree.path("home/Library/LaunchAgents/folder.plist"), "userAgent"},
      {tree.path("home/Library/LaunchAgents/../../Documents/old.plist"), "userAgent"},
      {agent, "daemon"}, {agent, "globalAgent"}, {document, "daemon"}};
  for (const auto& [path, kind] : notJobs) {
    for (const char* method : {"setStartupItem", "removeStartupItem"}) {
      EXPECT_THAT(runHost({"call", method, R"({"id":")" + path + R"(","kind":")" + kind + "\"}"}),
          FieldsAre(0, StartsWith(R"({"error":"not the path of a launch job file in )"), ""))
          << method << " " << path << " as " << kind;
    }
  }
  EXPECT_EQ(readFile(document) + readFile(photo), "minephoto");
  EXPECT_TRUE(present(tree.path("home/Library/LaunchAgents/folder.plist/kept")));

  EXPECT_THAT(runHost({"call", "removeStartupItem", id + "}", "--events"}),
      FieldsAre(0, "{\"error\":\"\",\"ok\":true}\n", HasSubstr(R"("path":"","task":"delete")")));
  EXPECT_FALSE(present(agent));
  EXPECT_EQ(entryCount(tree.path("home/.local/share/Trash/files")), 0);
  // An agent the launch service refuses to load (here a label systemd would read as a unit of
  // another type) is not reported switched on.
  const std::string timer = tree.write("home/Library/LaunchAgents/t.plist",
      R"(<plist><dict><key>Label</key><string>t.timer</string>
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
  const std::string daemon = tree.write("Library/LaunchDaemons/com.d.plist",
      R"(<plist><dict><key>Label</key><string>com.d</string></dict></plist>)");
  const std::string neighbour = tree.write("Library/LaunchDaemons/com.e.plist", "");
  // Jobs for all users that root did not write alone are refused before anything runs: nothing
  // is written through a link, nothing of another user's is started as root. Removal still
  // takes the link away, and leaves its target as it was.
  const std::string target = tree.write("elsewhere/com.t.plist", kAgent);
  const std::string linked = tree.symlink(target, "Library/LaunchDaemons/com.t.plist");
  const std::string planted = tree.write("Library/LaunchDaemons/com.p.plist", kAgent);
  ASSERT_EQ(::chown(planted.c_str(), nobodyUid(), nobodyGid()) | ::chmod(planted.c_str(), 0666), 0);
  // Inside, the test's folder is the machine's /Library.
  const auto call = [](const char* method, const std::string& name) {
    const HostRun run = runHost(
        {"call", method, R"({"kind":"daemon","id":"/Library/LaunchDaemons/)" + name + "\"}"});
    return std::get<1>(run) + std::get<2>(run);
  };
  EXPECT_EQ(runInPrivateMountNamespace([&] {
    const std::string failed =
        useMachineFolders(tree.makeDir("root"), tree.makeDir("Applications"), tree.path("Library"));
    return failed.empty()
               ? call("removeStartupItem", "com.d.plist") + call("setStartupItem", "com.p.plist") +
                     call("removeStartupItem", "com.t.plist")
               : failed;
  }),
      std::string("{\"error\":\"\",\"ok\":true}\n{\"error\":\"/Library/LaunchDaemons/com.p.plist") +
          ": a launch job for all users must be owned by root, not by user " +
          std::to_string(nobodyUid()) + "\",\"ok\":false}\n{\"error\":\"\",\"ok\":true}\n");
  EXPECT_FALSE(present(daemon) || present(linked));
  EXPECT_TRUE(present(neighbour));
  EXPECT_EQ(readFile(target) + readFile(planted), std::string(kAgent) + kAgent);
  EXPECT_THAT(systemd.calls(), ElementsAre(_, _, _, "systemctl|stop|com.d.service|"));
  EXPECT_EQ(entryCount(tree.path("tmp")), 0);
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
