// The machine's name and identifier from fixed machine files.

#include <gtest/gtest.h>

#include "ops/desktop/device_id.h"
#include "ops/desktop/device_name.h"
#include "support/fake_machine_sources.h"
#include "support/test_context.h"

namespace nimbra::test {
namespace {

// Expected identifiers: "mac-" and the first 40 hex digits of `printf 'vexolan:SEED' | sha256sum`.
TEST(DesktopServices, NameAndIdentifierComeFromTheMachineFilesWithTheirFallbacks) {
  const struct {
    std::optional<std::string> machineId, dbusMachineId, machineInfo;
    const char *host, *name, *id;  // the id's seed in each row's comment
  } cases[] = {
      {"  abc\n", "def\n", "PRETTY_HOSTNAME=\"Ann \\\"the\\\" Mac \\\\ \\$HOME\"\n", "box",
          "Ann \"the\" Mac \\ $HOME", "mac-695d04d77fcb5a543f3fff36ad625b3c8b37fc56"},  // abc
      {"", "def\n",
          "# PRETTY_HOSTNAME=no\nICON_NAME=computer\n  PRETTY_HOSTNAME='It'\\''s \"mine\"'\n",
          "box", "It's \"mine\"", "mac-cc767803b39bb8513c9dd136467512caffee968a"},  // def
      {"\n", " \n", "PRETTY_HOSTNAME=\"Ann's \\\"Mac\\\"\"\n", "box", "Ann's \"Mac\"",
          "mac-86d9ddcd10f7e282ed8b88fad3b6ff1b1bb91b85"},  // Ann's "Mac"
      {{}, {}, "PRETTY_HOSTNAME=\nPRETTY_HOSTNAME_OLD=x\n", "box", "box",
          "mac-dd1f6b2ef2fa2bff293df3bba9b0dd489e0e7c2b"},  // box
      {{}, {}, "PRETTY_HOSTNAME=first\nPRETTY_HOSTNAME=Plain\\ box  \n", "", "Plain box",
          "mac-6e56f19d46bbe764009887faf522ae0739f09a36"},                     // Plain box
      {{}, {}, {}, "", "Mac", "mac-9bc0a605ff467b1e641beb4f94863827a8c2e089"}  // unknown-mac
  };
  for (const auto& c : cases) {
    FakeMachineSources sources;
    if (c.machineId) sources.files["/etc/machine-id"] = *c.machineId;
    if (c.dbusMachineId) sources.files["/var/lib/dbus/machine-id"] = *c.dbusMachineId;
    if (c.machineInfo) sources.files["/etc/machine-info"] = *c.machineInfo;
    sources.host = c.host;
    TestContext context({}, {.machine = &sources});
    EXPECT_EQ(deviceName(*context), c.name);
    EXPECT_EQ(deviceIdentifier(*context), c.id) << c.name;
  }
}

}  // namespace
}  // namespace nimbra::test
