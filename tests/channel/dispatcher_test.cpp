// The dispatcher through the real channel: where each method runs, one answer per call, the
// reset rule, and cancellation between the main loop and the work queue.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "channel/engine_messenger.h"
#include "channel/method_table.h"
#include "channel/standard_codec.h"
#include "support/channel_harness.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

using namespace std::chrono_literals;

// Holds the work queue busy until released, as a long scan would.
class WorkQueueBlocker {
 public:
  explicit WorkQueueBlocker(NimbraNative& service) {
    service.workQueue().async([this, released = release_.get_future().share()] {
      started_.set_value();
      released.wait();
    });
    started_.get_future().wait();
  }
  ~WorkQueueBlocker() { release(); }
  void release() {
    if (!released_.exchange(true)) release_.set_value();
  }

 private:
  std::promise<void> started_;
  std::promise<void> release_;
  std::atomic<bool> released_{false};
};

TEST(Dispatcher, CancelIsAnsweredTrueOnTheMainLoopBeforeHandleReturns) {
  MainLoop loop;
  EngineMessenger messenger;
  NimbraNative service(NimbraNative::Seams{.mainLoop = &loop});
  service.install(&messenger);
  WorkQueueBlocker busy(service);

  std::vector<std::vector<uint8_t>> replies;
  messenger.deliverFromInterface(kNativeChannel, encodeMethodCall({"cancel", Value()}),
                                 [&](std::vector<uint8_t> reply) { replies.push_back(reply); });
  // Answered once, without pumping the loop: it ran on the main thread.
  EXPECT_EQ(replies, (std::vector<std::vector<uint8_t>>{{0x00, 0x01}}));
  EXPECT_TRUE(service.isCancelled());
}

// Refuses every script at once, so that no administrator command runs for real.
struct RefusingScriptRunner final : ScriptRunner {
  ScriptResult runScript(const std::string&) override { return {false, "refused"}; }
};

// Every queued method of the table, with arguments that keep it small, and names the table
// lacks (matched case-sensitively): each runs on its queue, answers once, on the main loop, and
// work tasks (the unknown names among them) wait behind a running one.
TEST(Dispatcher, EveryQueuedMethodRunsOnItsQueueAndAnswersOnceOnTheMainLoop) {
  TempTree tree;
  tree.touch("file", 10);
  const ValueMap small{{"path", tree.root()}, {"root", tree.root()}, {"paths", ValueList{}}};
  std::vector<std::pair<std::string, Runs>> queued{{"noSuchMethod", Runs::work}, {"Cancel", Runs::work}};
  for (const MethodEntry& entry : methodTable()) {
    if (entry.runs == Runs::info || entry.runs == Runs::work) queued.emplace_back(entry.name, entry.runs);
  }
  RefusingScriptRunner scripts;
  for (const auto& [name, runs] : queued) {
    SCOPED_TRACE(name);
    ChannelHarness harness(NimbraNative::Seams{.scriptRunner = &scripts, .pause = [](double) {}});
    WorkQueueBlocker busy(harness.service());
    const int ticket = harness.send(name, small);
    if (runs == Runs::work) {
      EXPECT_FALSE(harness.pumpUntil([] { return false; }, 0.05));
      busy.release();
    }
    const CallOutcome outcome = harness.wait(ticket);
    const bool known = name != "noSuchMethod" && name != "Cancel";
    EXPECT_EQ(outcome.answer.has_value(), known);
    EXPECT_EQ(outcome.notImplemented, !known);
  }
}

// A cancel while idle stays until the next work task starts; one sent while a task runs
// reaches it, and the task queued behind it starts afresh.
TEST(Cancellation, CancelReachesTheRunningTaskAndTheNextTaskClearsIt) {
  ChannelHarness harness;
  NimbraNative& service = harness.service();
  EXPECT_EQ(harness.call("cancel").answer, Value(true));
  EXPECT_TRUE(service.isCancelled());
  harness.call("noSuchMethod");
  EXPECT_FALSE(service.isCancelled());

  std::atomic<bool> sawCancel{false};
  std::promise<void> running;
  service.workQueue().async([&] {
    service.resetCancel();
    running.set_value();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!service.isCancelled() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
    sawCancel = service.isCancelled();
  });
  running.get_future().wait();
  const int queued = harness.send("noSuchMethod");
  EXPECT_EQ(harness.call("cancel").answer, Value(true));
  EXPECT_TRUE(harness.wait(queued).notImplemented);
  EXPECT_TRUE(sawCancel);
  EXPECT_FALSE(service.isCancelled());
}

}  // namespace
}  // namespace nimbra::test
