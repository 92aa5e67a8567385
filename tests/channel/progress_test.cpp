// The shared progress throttle, driven by an injected clock.

#include <gtest/gtest.h>

#include <atomic>

#include "support/channel_harness.h"

namespace nimbra::test {
namespace {

struct FakeClock {
  std::shared_ptr<std::atomic<double>> now = std::make_shared<std::atomic<double>>(1000.0);
  Clock clock() const {
    return [now = now] { return now->load(); };
  }
  void set(double t) const { *now = t; }
};

class ProgressTest : public ::testing::Test {
 protected:
  FakeClock time;
  ChannelHarness harness{NimbraNative::Seams{.clock = time.clock()}};

  // Sends one event at time t and answers the paths delivered so far.
  void offer(double t, const std::string& path, bool force = false) {
    time.set(t);
    harness.service().progress("large", path, 1, 2, force);
  }
  std::vector<std::string> deliveredPaths() {
    // Events are posted to the main loop; a queued no-op call flushes everything before it.
    harness.call("noSuchMethod");
    std::vector<std::string> paths;
    for (const ValueMap& e : harness.events()) paths.push_back(*e.at("path").getIf<std::string>());
    return paths;
  }
};

TEST_F(ProgressTest, EventCarriesExactlyTheFourKeys) {
  harness.service().progress("disk", "/a", 7, 9, true);
  deliveredPaths();
  ASSERT_EQ(harness.events().size(), 1u);
  EXPECT_EQ(harness.events()[0],
            (ValueMap{{"task", "disk"}, {"path", "/a"}, {"count", int64_t{7}}, {"bytes", int64_t{9}}}));
}

TEST_F(ProgressTest, UnforcedEventsWithin120msAreDropped) {
  offer(1000.00, "first");
  offer(1000.05, "too soon");
  offer(1000.11, "still too soon");
  offer(1000.12, "third");  // measured from the first, not from the dropped ones
  EXPECT_EQ(deliveredPaths(), (std::vector<std::string>{"first", "third"}));
}

TEST_F(ProgressTest, ForcedEventsPassAndRestartTheInterval) {
  offer(1000.00, "a");
  offer(1000.01, "forced", true);
  offer(1000.10, "dropped: 0.09 s after the forced one");
  offer(1000.13, "b");
  EXPECT_EQ(deliveredPaths(), (std::vector<std::string>{"a", "forced", "b"}));
}

TEST_F(ProgressTest, TheIntervalIsSharedAcrossOperations) {
  offer(1000.00, "final of one scan", true);
  offer(1000.05, "first of the next scan");
  EXPECT_EQ(deliveredPaths(), (std::vector<std::string>{"final of one scan"}));
}

TEST_F(ProgressTest, ClockSetBackSuppressesUnforcedEventsUntilItCatchesUp) {
  offer(1000.00, "before");
  offer(900.00, "clock went back");
  offer(1000.05, "still within the interval");
  offer(900.50, "forced after going back", true);
  offer(900.70, "unforced after the forced");
  EXPECT_EQ(deliveredPaths(),
            (std::vector<std::string>{"before", "forced after going back", "unforced after the forced"}));
}

TEST(ProgressWithoutListener, EventsAreLostButStillThrottle) {
  FakeClock time;
  ChannelHarness harness(NimbraNative::Seams{.clock = time.clock()}, /*listen=*/false);
  harness.service().progress("junk", "lost", 1, 1, false);
  time.set(1000.05);
  harness.call("noSuchMethod");
  EXPECT_TRUE(harness.events().empty());
}

}  // namespace
}  // namespace nimbra::test
