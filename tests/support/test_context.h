#pragma once

// An operation's context for tests that call operations directly: the folders the test gives,
// every progress offer recorded in order (none is dropped), a cancellation flag the test raises
// (or has raised inside the n-th offer), and the runners and machine sources it picks: the real
// ones unless told. A task for the background runs at once, on the caller's thread.

#include <atomic>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ops/operation_context.h"

namespace nimbra::test {

struct Event {
  std::string task, path;
  int64_t count = 0, bytes = 0;
  friend bool operator==(const Event&, const Event&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Event& e) {
    return out << "{" << e.task << " '" << e.path << "' " << e.count << " " << e.bytes << "}";
  }
};

struct TestSeams {
  CommandRunner* commands = nullptr;
  ScriptRunner* scripts = nullptr;
  MachineSources* machine = nullptr;
};

class TestContext final : public ProgressSink, public CancellationFlag {
 public:
  explicit TestContext(Folders folders = {}, TestSeams seams = {});
  TestContext(const TestContext&) = delete;
  TestContext& operator=(const TestContext&) = delete;

  OperationContext& operator*() { return context_; }
  OperationContext* operator->() { return &context_; }

  void offer(const std::string& task, const std::string& path, int64_t count, int64_t bytes,
      bool force) override;
  bool isCancelled() override { return cancelled; }

  std::vector<Event> events;
  std::atomic<bool> cancelled{false};
  // Raises the flag inside the offer that makes `events` this long.
  size_t cancelAtOffer = 0;
  // What a pause does (by default nothing: no test waits).
  Pause onPause = [](double) {};

 private:
  std::unique_ptr<CommandRunner> ownCommands_;
  std::unique_ptr<ScriptRunner> ownScripts_;
  std::unique_ptr<MachineSources> ownMachine_;
  OperationContext context_;
};

}  // namespace nimbra::test
