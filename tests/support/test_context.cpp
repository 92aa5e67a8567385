#include "support/test_context.h"

namespace nimbra::test {
namespace {

template <class Interface, class Real>
Interface& chosen(Interface* given, std::unique_ptr<Interface>& own) {
  if (given) return *given;
  own = std::make_unique<Real>();
  return *own;
}

}  // namespace

TestContext::TestContext(Folders folders, TestSeams seams)
    : context_{*this, *this,
          chosen<CommandRunner, SpawnCommandRunner>(seams.commands, ownCommands_),
          chosen<ScriptRunner, ShellScriptRunner>(seams.scripts, ownScripts_),
          chosen<MachineSources, LocalMachineSources>(seams.machine, ownMachine_),
          std::move(folders), [](std::function<void()> task) { task(); },
          [this](double seconds) { onPause(seconds); }} {}

void TestContext::offer(
    const std::string& task, const std::string& path, int64_t count, int64_t bytes, bool) {
  events.push_back({task, path, count, bytes});
  if (events.size() == cancelAtOffer) cancelled = true;
}

}  // namespace nimbra::test
