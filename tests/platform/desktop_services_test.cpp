// The machine's name and identifier from fixed machine files, through the channel; the file
// URLs that reveal sends to the file manager.

#include <gtest/gtest.h>

#include "platform/desktop_launch.h"
#include "support/channel_harness.h"
#include "support/fake_system_sources.h"

namespace nimbra::test {
namespace {

struct Machine {
  std::optional<std::string> machineId, dbusMachineId, machineInfo;
  std::string host;
};

Value callWith(const Machine& machine, const std::string& method) {
  FakeSystemSources sources;
  if (machine.machineId) sources.files["/etc/machine-id"] = *machine.machineId;
  if (machine.dbusMachineId) sources.files["/var/lib/dbus/machine-id"] = *machine.dbusMachineId;
  if (machine.machineInfo) sources.files["/etc/machine-info"] = *machine.machineInfo;
  sources.host = machine.host;
  ChannelHarness harness(NimbraNative::Seams{.systemSources = &sources});
  return harness.call(method).answer.value_or(Value());
}

// Expected identifiers: "mac-" and the first 40 hex digits of `printf 'vexolan:SEED' | sha256sum`.
TEST(DesktopServices, DeviceIdComesFromTheMachineIdThenTheComputerName) {
  const struct {
    Machine machine;
    const char* seed;
    const char* id;
  } cases[] = {
      {{"  abc\n", "def\n", {}, "box"}, "abc", "mac-695d04d77fcb5a543f3fff36ad625b3c8b37fc56"},
      {{"", "def\n", {}, "box"}, "def", "mac-cc767803b39bb8513c9dd136467512caffee968a"},
      {{"\n", " \n", "PRETTY_HOSTNAME=\"Ann's \\\"Mac\\\"\"\n", "box"}, "Ann's \"Mac\"",
       "mac-86d9ddcd10f7e282ed8b88fad3b6ff1b1bb91b85"},
      {{{}, {}, "PRETTY_HOSTNAME=\n", "box"}, "box", "mac-dd1f6b2ef2fa2bff293df3bba9b0dd489e0e7c2b"},
      {{{}, {}, {}, ""}, "unknown-mac", "mac-9bc0a605ff467b1e641beb4f94863827a8c2e089"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(callWith(c.machine, "deviceId"), Value(c.id)) << c.seed;
  }
}

TEST(DesktopServices, DeviceNameIsThePrettyHostnameUnquotedElseTheHostNameElseMac) {
  const struct {
    const char* machineInfo;
    const char* host;
    const char* name;
  } cases[] = {
      {"PRETTY_HOSTNAME=\"Ann \\\"the\\\" Mac \\\\ \\$HOME\"\n", "box", "Ann \"the\" Mac \\ $HOME"},
      {"# PRETTY_HOSTNAME=no\nICON_NAME=computer\n  PRETTY_HOSTNAME='It'\\''s \"mine\"'\n", "box", "It's \"mine\""},
      {"PRETTY_HOSTNAME=Plain\\ Name  \nPRETTY_HOSTNAME_OLD=x\n", "box", "Plain Name"},
      {"PRETTY_HOSTNAME=first\nPRETTY_HOSTNAME=second\n", "box", "second"},
      {"PRETTY_HOSTNAME=''\n", "box", "box"},
      {"", "", "Mac"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(callWith({{}, {}, c.machineInfo, c.host}, "deviceName"), Value(c.name)) << c.machineInfo;
  }
}

TEST(DesktopServices, FileUrlsPercentEncodeEverythingButUnreservedCharacters) {
  EXPECT_EQ(fileUrlFromPath("/a b/#1?x=%25/\xC3\xA9t\xC3\xA9/it's~_.-"),
            "file:///a%20b/%231%3Fx%3D%2525/%C3%A9t%C3%A9/it%27s~_.-");
  EXPECT_EQ(fileUrlFromPath("/"), "file:///");
}

}  // namespace
}  // namespace nimbra::test
