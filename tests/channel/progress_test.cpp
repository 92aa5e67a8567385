// The shared progress throttle, driven by an injected clock.

#include <gtest/gtest.h>

#include <atomic>

#include "support/channel_harness.h"

namespace nimbra::test {
namespace {

class ProgressTest : public ::testing::Test {
 protected:
  std::shared_ptr<std::atomic<double>> now = std::make_shared<std::atomic<double>>(1000.0);
  ChannelHarness harness{NimbraNative::Seams{.clock = [now = now] { return now->load(); }}};

  void offer(double t, const std::string& path, bool force = false) {
    *now = t;
    harness.service().progress("large", path, 1, 2, force);
  }
  // Events are posted to the main loop; a queued call's answer comes after all of them.
  std::vector<std::string> deliveredPaths() {
    harness.call("noSuchMethod");
    std::vector<std::string> paths;
    for (const ValueMap& e : harness.events()) paths.push_back(*e.at("path").getIf<std::string>());
    return paths;
  }
};

TEST_F(ProgressTest, UnforcedEventsWithin120msOfTheLastOneLetThroughAreDropped) {
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
  EXPECT_EQ(deliveredPaths(), (std::vector<std::string>{"first", "second", "forced", "third", "forced after going back",
                                                        "unforced after the forced"}));
  EXPECT_EQ(harness.events()[0],
            (ValueMap{{"task", "large"}, {"path", "first"}, {"count", int64_t{1}}, {"bytes", int64_t{2}}}));
}

TEST(ProgressWithoutListener, EventsAreDroppedSilently) {
  ChannelHarness harness({}, /*listen=*/false);
  harness.service().progress("junk", "lost", 1, 1, /*force=*/true);
  harness.call("noSuchMethod");
  EXPECT_TRUE(harness.events().empty());
}

}  // namespace
}  // namespace nimbra::test
