// The startup item methods end to end: `nimbra call` as a child process, a temporary home, and
// recording systemd programs behind the launchctl stand-in.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host_process.h"
#include "removal/deletion_fixtures.h"
#include "support/systemd_recorder.h"

namespace nimbra::test {
namespace {

using ::testing::ElementsAre;
using ::testing::FieldsAre;
using ::testing::HasSubstr;

constexpr const char* kAgent = R"(<plist version="1.0"><dict>
  <key>Label</key><string>com.x</string>
  <key>ProgramArguments</key><array><string>/usr/bin/x</string></array>
  <key>RunAtLoad</key><true/>
</dict></plist>)";

// A user agent listed, disabled and removed; then, as root, a daemon removed through the real
// administrator route.
TEST(StartupItemsCall, ListDisableAndRemoveAUserAgentThenADaemonAsAdministrator) {
  TempTree tree;
  ScopedEnv home{"HOME", tree.makeDir("home")};
  ScopedEnv data{"XDG_DATA_HOME", tree.path("home/.local/share")};
  ScopedEnv config{"XDG_CONFIG_HOME", tree.path("config")};
  ScopedEnv tmpdir{"TMPDIR", tree.makeDir("tmp")};
  SystemdRecorder systemd{tree, "com.x.service loaded active running X\n"};
  const std::string agent = tree.write("home/Library/LaunchAgents/com.x.plist", kAgent);
  const std::string login = tree.write("config/autostart/notes.desktop", "[Desktop Entry]\nName=Notes\nExec=notes\n");
  EXPECT_EQ(runHost({"call", "listStartupItems"}),
            HostRun(0,
                    R"({"items":[{"editable":true,"enabled":true,"id":")" + agent +
                        R"(","kind":"userAgent","name":"com.x","path":"/usr/bin/x","runAtLoad":true},)"
                        R"({"editable":true,"enabled":true,"id":"Notes","kind":"loginItem","name":"Notes","path":")" +
                        login + R"(","runAtLoad":true}]})" + "\n",
                    ""));
  const std::string id = R"({"id":")" + agent + R"(","kind":"userAgent")";
  EXPECT_EQ(runHost({"call", "setStartupItem", id + R"(,"enabled":false})"}), HostRun(0, "{\"ok\":true,\"output\":\"\"}\n", ""));
  EXPECT_THAT(readFile(agent), HasSubstr("<key>Disabled</key>\n\t<true/>"));
  EXPECT_THAT(runHost({"call", "removeStartupItem", id + "}", "--events"}),
              FieldsAre(0, "{\"error\":\"\",\"ok\":true}\n", HasSubstr(R"("path":"","task":"delete")")));
  EXPECT_FALSE(present(agent));
  EXPECT_EQ(entryCount(tree.path("home/.local/share/Trash/files")), 0);
  const std::string stop = "systemctl|--user|stop|com.x.service|";
  EXPECT_THAT(systemd.calls(), ElementsAre("systemctl|--user|list-units|--all|--plain|--no-legend|--no-pager|", stop, stop));

  NIMBRA_SKIP_UNLESS_ROOT("administrator scripts run without a password prompt only as root");
  const std::string daemon = tree.write("daemons/com.d.plist", R"(<plist><dict><key>Label</key><string>com.d</string></dict></plist>)");
  const std::string neighbour = tree.write("daemons/com.e.plist", "");
  EXPECT_EQ(runHost({"call", "removeStartupItem", R"({"id":")" + daemon + R"(","kind":"daemon"})"}),
            HostRun(0, "{\"error\":\"\",\"ok\":true}\n", ""));
  EXPECT_FALSE(present(daemon));
  EXPECT_TRUE(present(neighbour));
  EXPECT_THAT(systemd.calls(), ::testing::Contains("systemctl|stop|com.d.service|"));
  EXPECT_EQ(entryCount(tree.path("tmp")), 0);
}

}  // namespace
}  // namespace nimbra::test
