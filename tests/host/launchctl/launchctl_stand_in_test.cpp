#include "host/launchctl/launchctl_stand_in.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/process/child_process.h"
#include "support/stand_ins.h"

namespace nimbra::test {
namespace {

// Runs the stand-in (the build's link, beside the host program) as a real child: its stdout
// and stderr, then "[STATUS]".
std::string launchctl(const std::vector<std::string>& arguments) {
  const std::string host = NIMBRA_HOST_PATH;
  std::vector<std::string> shell{
      "-c", "\"$0\" \"$@\" 2>&1; echo \"[$?]\"", host.substr(0, host.rfind('/')) + "/launchctl"};
  shell.insert(shell.end(), arguments.begin(), arguments.end());
  return runChild("/bin/sh", shell).out;
}

constexpr const char* kJob = R"(<plist version="1.0"><dict>
  <key>Label</key><string>com.example.job</string>
  <key>Program</key><string></string>
  <key>ProgramArguments</key><array><string>/usr/bin/tool</string><string>-x</string><string>two words</string></array>
</dict></plist>)";

TEST(LaunchctlStandIn, MapsEachFormAndDomainOntoSystemdPassesItsAnswerThroughAndRefusesTheRest) {
  TempTree tree;
  const std::string units = "com.example.job.service loaded active running Tool\n";
  SystemdRecorder systemd(units, 3);
  const std::string other = std::to_string(::getuid() + 1);
  const std::string job = tree.write("com.example.job.plist", kJob);
  const std::string unreadable = tree.write("com.other.plist", "not a property list");
  const std::string list = "list-units|--all|--plain|--no-legend|--no-pager|";
  // The file name stands in for the label of a file that cannot be read. The user's own
  // domain is run end to end by the host's startup item calls.
  const std::pair<std::vector<std::string>, std::string> forms[] = {{{"print", "system"}, units},
      {{"print", "gui/" + other}, units}, {{"bootstrap", "system", job}, ""},
      {{"bootout", "gui/" + other, unreadable}, ""}};
  for (const auto& [arguments, answer] : forms) {
    EXPECT_EQ(launchctl(arguments), answer + "[3]\n");
  }
  const std::vector<std::string> mapped = {"systemctl|" + list,
      "systemctl|--user|--machine=" + other + "@|" + list,
      "systemd-run|--unit=com.example.job|--collect|--quiet|--|/usr/bin/tool|-x|two words|",
      "systemctl|--user|--machine=" + other + "@|stop|com.other.service|"};
  EXPECT_EQ(systemd.calls(), mapped);

  // What systemd would read otherwise is refused, and nothing runs.
  const std::string noProgram =
      tree.write("np.plist", "<plist><dict><key>Label</key><string>np</string></dict></plist>");
  int files = 0;
  const auto labelled = [&](const std::string& label) {
    return tree.write("job" + std::to_string(++files) + ".plist",
        "<plist><dict><key>Label</key><string>" + label +
            "</string><key>Program</key><string>/bin/true</string></dict></plist>");
  };
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {{{}, "[64]"},
      {{"print"}, "[64]"}, {{"print", "gui/abc"}, "[64]"}, {{"print", "gui/-1"}, "[64]"},
      {{"print", "system", "extra"}, "[64]"}, {{"kickstart", "system", noProgram}, "[64]"},
      {{"bootstrap", "system"}, "[64]"},
      {{"bootstrap", "system", noProgram}, "names no program to run\n[78]"},
      {{"bootstrap", "system", tree.path("missing.plist")}, "not a readable job file\n[78]"},
      // A pattern would stop every matching unit; a leading dash would be an option.
      {{"bootout", "system", labelled("*")}, "cannot name a systemd unit\n[65]"},
      {{"bootout", "system", labelled("-all")}, "cannot name a systemd unit\n[65]"},
      {{"bootstrap", "system", labelled("a b")}, "cannot name a systemd unit\n[65]"},
      // Started as that unit, it would be stopped as "x.socket.service".
      {{"bootstrap", "system", labelled("x.socket")}, "cannot name a systemd unit\n[65]"}};
  for (const auto& [arguments, ending] : cases) {
    const std::string answer = launchctl(arguments);
    EXPECT_TRUE(answer.starts_with("launchctl: ") && answer.ends_with(ending + "\n"))
        << ::testing::PrintToString(arguments) << " -> " << answer;
  }
  EXPECT_EQ(systemd.calls(), mapped);
}

}  // namespace
}  // namespace nimbra::test
