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
  ASSERT_EQ(replies.size(), 1u);  // answered without pumping the loop: it ran on the main thread
  EXPECT_EQ(replies[0], (std::vector<uint8_t>{0x00, 0x01}));
  EXPECT_TRUE(service.isCancelled());
}

TEST(Dispatcher, UnknownNamesAreAnsweredNotImplementedFromTheWorkQueue) {
  ChannelHarness harness;
  WorkQueueBlocker busy(harness.service());
  const int ticket = harness.send("noSuchMethod", ValueMap{{"x", int64_t{1}}});
  // Nothing may answer while the work queue is busy.
  EXPECT_FALSE(harness.pumpUntil([] { return false; }, 0.1));
  const int caseSensitive = harness.send("Cancel");
  busy.release();
  EXPECT_TRUE(harness.wait(ticket).notImplemented);
  EXPECT_TRUE(harness.wait(caseSensitive).notImplemented);
}

// Refuses every script at once, so that no administrator command runs for real.
struct RefusingScriptRunner final : ScriptRunner {
  ScriptResult runScript(const std::string&) override { return {false, "refused"}; }
};

// Every queued method of the table, with arguments that keep it small: it runs on its queue,
// answers once, on the main loop, and work methods wait behind a running work task.
TEST(Dispatcher, EveryQueuedMethodRunsOnItsQueueAndAnswersOnceOnTheMainLoop) {
  TempTree tree;
  tree.touch("file", 10);
  const ValueMap small{{"path", tree.root()}, {"root", tree.root()}, {"paths", ValueList{}}};
  RefusingScriptRunner scripts;
  for (const MethodEntry& entry : methodTable()) {
    if (entry.runs != Runs::info && entry.runs != Runs::work) continue;
    SCOPED_TRACE(std::string(entry.name));
    ChannelHarness harness(NimbraNative::Seams{.scriptRunner = &scripts, .pause = [](double) {}});
    WorkQueueBlocker busy(harness.service());
    const int ticket = harness.send(std::string(entry.name), small);
    if (entry.runs == Runs::work) {
      EXPECT_FALSE(harness.pumpUntil([] { return false; }, 0.05));
      busy.release();
    }
    CallOutcome outcome = harness.wait(ticket);
    ASSERT_TRUE(outcome.answer.has_value());
    EXPECT_FALSE(outcome.notImplemented);
  }
}

TEST(Cancellation, CancelWhileIdleIsClearedByTheNextWorkTask) {
  ChannelHarness harness;
  EXPECT_EQ(harness.call("cancel").answer, Value(true));
  EXPECT_TRUE(harness.service().isCancelled());
  harness.call("noSuchMethod");  // any work task clears the flag first
  EXPECT_FALSE(harness.service().isCancelled());
}

TEST(Cancellation, CancelReachesTheRunningTaskAndTheQueuedOneClearsIt) {
  ChannelHarness harness;
  NimbraNative& service = harness.service();
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
