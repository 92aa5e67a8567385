// The method table and where its work runs: the serial and concurrent queues; the dispatcher
// through the real channel (where each method runs, one answer per call, the reset rule, and
// cancellation between the main loop and a running task, the progress throttle); and the table's
// argument rules, decoded where the channel cannot show them (hostile numbers, records of
// operations not answered yet) and otherwise through the channel with real encoded calls, where
// what each operation received shows in what it answers.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <numeric>
#include <thread>
#include <vector>

#include "host/json/json_text.h"
#include "service/dispatch_queue.h"
#include "service/method_args.h"
#include "service/method_table.h"
#include "support/channel_harness.h"
#include "support/temp_tree.h"
#include "support/test_seams.h"
#include "support/unprivileged.h"
#include "support/walk_watch.h"

namespace nimbra::test {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueue, RunsTasksOneAtATimeInSubmissionOrderOnItsOwnThread) {
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<bool> misplaced{false};  // two at once, or one off the queue's thread
  {
    SerialQueue queue("com.teskel.nimbra.work");
    for (int i = 0; i < 50; ++i) {
      queue.async([&, i] {
        if (running.fetch_add(1) != 0 || !queue.isCurrent()) misplaced = true;
        std::this_thread::sleep_for(100us);  // room for a second task to overlap
        order.push_back(i);
        running.fetch_sub(1);
      });
    }
  }  // the destructor waits for every task
  std::vector<int> submitted(50);
  std::iota(submitted.begin(), submitted.end(), 0);
  EXPECT_EQ(order, submitted);
  EXPECT_FALSE(misplaced);
}

TEST(ConcurrentQueue, BlockedTasksDoNotHoldUpLaterOnes) {
  ConcurrentQueue queue("com.teskel.nimbra.info");
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  for (int i = 0; i < 6; ++i)
    queue.async([released] { released.wait(); });  // more than the machine has cores
  std::promise<void> quick;
  queue.async([&] { quick.set_value(); });
  EXPECT_EQ(quick.get_future().wait_for(5s), std::future_status::ready);
  release.set_value();
}

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
  std::promise<void> started_, release_;
  std::atomic<bool> released_{false};
};

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
  // emptyTrash empties the Trash of this home, never the machine's.
  ScopedEnv home{"HOME", tree.root()};
  ScopedEnv data{"XDG_DATA_HOME", tree.path("data")};
  const ValueMap small{{"path", tree.root()}, {"root", tree.root()}, {"paths", ValueList{}}};
  std::vector<std::pair<std::string, Runs>> queued{
      {"noSuchMethod", Runs::work}, {"Cancel", Runs::work}};
  for (const MethodEntry& entry : methodTable()) {
    if (entry.runs == Runs::info || entry.runs == Runs::work)
      queued.emplace_back(entry.name, entry.runs);
  }
  RefusingScriptRunner scripts;
  for (const auto& [name, runs] : queued) {
    SCOPED_TRACE(name);
    ChannelHarness harness(NimbraNative::Seams{.scriptRunner = &scripts, .pause = [](double) {}});
    WorkQueueBlocker busy(harness.service());
    const int ticket = harness.send(name, small);
    if (runs == Runs::work) {
      EXPECT_NONFATAL_FAILURE(harness.wait(ticket, 0.05), "no answer within");
      busy.release();
    }
    const CallOutcome outcome = harness.wait(ticket);
    const bool known = name != "noSuchMethod" && name != "Cancel";
    EXPECT_EQ(outcome.answer.has_value(), known);
    EXPECT_EQ(outcome.notImplemented, !known);
  }
}

// A cancel while idle stays until the next work task starts; one sent while a task runs reaches
// it (a real walk answers its partial total) and leaves the task queued behind it to start
// afresh.
TEST(Cancellation, ReachesTheRunningWorkTaskAndTheNextOneToStartClearsTheFlag) {
  ChannelHarness harness;
  NimbraNative& service = harness.service();
  EXPECT_EQ(harness.call("cancel").answer, Value(true));
  EXPECT_TRUE(service.isCancelled());
  harness.call("noSuchMethod");
  EXPECT_FALSE(service.isCancelled());

  WideTree wide(300, 200);
  const int measuring = harness.send("sizeOf", ValueMap{{"path", wide.root()}});
  const int queued = harness.send("noSuchMethod");
  ASSERT_TRUE(waitUntilOpen(::getpid(), wide.root()));  // the walker holds the root open
  EXPECT_EQ(harness.call("cancel").answer, Value(true));
  const Value measured = harness.wait(measuring).answer.value_or(Value());
  const int64_t partial = measured.getIf<ValueMap>()
                              ? intValue(measured.getIf<ValueMap>()->at("size")).value_or(-1)
                              : -1;
  EXPECT_TRUE(partial >= 0 && partial < 300 * 200) << partial;
  EXPECT_TRUE(harness.wait(queued).notImplemented);
  EXPECT_FALSE(service.isCancelled());
}

// The throttle shared by every operation's progress, driven by an injected clock.
TEST(Progress, UnforcedEventsWithin120msOfTheLastOneLetThroughAreDroppedAndUnheardOnesAreLost) {
  auto now = std::make_shared<std::atomic<double>>(1000.0);
  ChannelHarness harness(NimbraNative::Seams{.clock = [now] { return now->load(); }});
  auto offer = [&](double t, const std::string& path, bool force = false) {
    *now = t;
    harness.service().offer("large", path, 1, 2, force);
  };
  offer(1000.00, "first");
  offer(1000.05, "too soon");
  offer(1000.12, "second");  // measured from the last event let through, not the dropped one
  offer(1000.13, "forced", true);
  offer(1000.20, "too soon after the forced one");  // also the next operation's first event
  offer(1000.25, "third");
  // A clock set back suppresses unforced events until it catches up.
  offer(900.00, "clock went back");
  offer(1000.30, "still within the interval");
  offer(900.50, "forced after going back", true);
  offer(900.70, "unforced after the forced");
  // Events are posted to the main loop; a queued call's answer comes after all of them.
  harness.call("noSuchMethod");
  std::vector<std::string> delivered;
  for (const ValueMap& e : harness.events())
    delivered.push_back(*e.at("path").getIf<std::string>());
  EXPECT_EQ(delivered, (std::vector<std::string>{"first", "second", "forced", "third",
                           "forced after going back", "unforced after the forced"}));

  // With no one listening, even a forced event is dropped, silently.
  ChannelHarness unheard({}, /*listen=*/false);
  unheard.service().offer("junk", "lost", 1, 1, /*force=*/true);
  unheard.call("noSuchMethod");
  EXPECT_TRUE(unheard.events().empty());
}

TEST(MethodArgs, ValuesOfAnotherTypeOrOutOfRangeTakeTheDefault) {
  // Numbers no int64 can hold: converting them would be undefined behaviour.
  for (double d : {std::nan(""), std::numeric_limits<double>::infinity(), -1e19, 1e300}) {
    EXPECT_EQ(decodeScanLargeFilesArgs({{"minSize", d}}, "/").minSize, 104857600) << d;
    EXPECT_EQ(decodeAnalyzeDiskArgs({{"depth", d}}, "/").depth, 3) << d;
  }
  EXPECT_EQ(decodeScanLargeFilesArgs({{"minSize", -9223372036854775808.0}}, "/").minSize,
      std::numeric_limits<int64_t>::min());
  EXPECT_EQ(decodeScanDuplicatesArgs({{"minSize", -5.9}}, "/").minSize, -5);  // toward zero
  EXPECT_EQ(decodeScanDuplicatesArgs({{"minSize", 5.9}}, "/").minSize, 5);
  EXPECT_EQ(decodeAnalyzeDiskArgs({{"depth", 2.0}}, "/").depth, 2);
  // Arguments that are no string-keyed map count as empty.
  for (const Value& notAMap :
      {Value(), Value(ValueList{"root"}), Value(ValuePairs{{int64_t{1}, "x"}})}) {
    EXPECT_TRUE(argumentMap(notAMap).empty());
  }
  // Paths must be a list of strings only.
  for (const Value& paths : {Value("/a"), Value(ValueList{"/a", int64_t{1}})}) {
    EXPECT_EQ(decodeDeleteItemsArgs({{"paths", paths}}).paths, std::vector<std::string>{});
  }
  EXPECT_EQ(decodeDeleteItemsArgs({{"paths", ValueList{"/a", "/b"}}, {"allowAdmin", int64_t{0}}}),
      (DeleteArgs{{"/a", "/b"}, false, true}));
  EXPECT_EQ(decodeStartupItemArgs({}), (StartupItemArgs{"", "", true}));
  EXPECT_EQ(decodeAppLeftoversArgs({{"bundleId", int64_t{3}}, {"name", "X"}}),
      (AppLeftoversArgs{"", "X"}));
  // Scans default to the home folder the context read: null arguments, or a "minSize" that is no
  // number, scan it for 100 MiB; "root" is not the key analyzeDisk reads, and 2.5 is no depth.
  for (const Value& arguments : {Value(), Value(ValueMap{{"minSize", "1"}})}) {
    EXPECT_EQ(
        decodeScanLargeFilesArgs(argumentMap(arguments), "/h"), (RootMinSizeArgs{"/h", 104857600}));
  }
  EXPECT_EQ(decodeAnalyzeDiskArgs({{"root", "/elsewhere"}, {"depth", 2.5}}, "/h"),
      (AnalyzeDiskArgs{"/h", 3}));
}

TEST(MethodTable, DeletionOffersTheAdministratorFallbackUnlessDeleteItemsIsToldNot) {
  // In a read-only folder even root cannot remove a file: it stays and goes to the fallback.
  NIMBRA_SKIP_UNLESS_ROOT("private mounts");
  TempTree home;
  const std::string stubborn = home.touch("ro/stubborn", 1), ro = home.path("ro");
  const std::string report = runInPrivateMountNamespace([&]() -> std::string {
    if (std::string failure = bindMount(ro, ro, true); !failure.empty()) return failure;
    RecordingScriptRunner scripts;
    ChannelHarness harness(NimbraNative::Seams{.scriptRunner = &scripts});
    // deleteItems defaults allowAdmin to true and honours false; uninstallApp always allows it.
    harness.call("deleteItems", ValueMap{{"paths", ValueList{stubborn}}});
    harness.call("deleteItems", ValueMap{{"paths", ValueList{stubborn}}, {"allowAdmin", false}});
    harness.call("uninstallApp", ValueMap{{"paths", ValueList{stubborn}}, {"allowAdmin", false}});
    return toJsonText(ValueList(scripts.scripts.begin(), scripts.scripts.end()));
  });
  const std::string script =
      "do shell script \"rm -rf '" + stubborn + "'\" with administrator privileges";
  EXPECT_EQ(report, toJsonText(ValueList{script, script}));
}

}  // namespace
}  // namespace nimbra::test
