// The serial and concurrent queues and the main loop.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "channel/dispatch_queue.h"
#include "channel/main_loop.h"

namespace nimbra {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueue, RunsTasksOneAtATimeInSubmissionOrderOnItsOwnThread) {
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::atomic<bool> onWorker{true};
  {
    SerialQueue queue("com.teskel.nimbra.work");
    EXPECT_EQ(queue.label(), "com.teskel.nimbra.work");
    for (int i = 0; i < 50; ++i) {
      queue.async([&, i] {
        if (running.fetch_add(1) != 0) overlapped = true;
        if (!queue.isCurrent()) onWorker = false;
        std::this_thread::sleep_for(100us);
        order.push_back(i);
        running.fetch_sub(1);
      });
    }
  }  // the destructor waits for every task
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
  EXPECT_FALSE(overlapped);
  EXPECT_TRUE(onWorker);
}

TEST(ConcurrentQueue, BlockedTasksDoNotHoldUpLaterOnes) {
  ConcurrentQueue queue("com.teskel.nimbra.info");
  constexpr int kBlocked = 6;  // more than the machine has cores
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> started{0};
  for (int i = 0; i < kBlocked; ++i) {
    queue.async([&, released] {
      ++started;
      released.wait();
    });
  }
  std::promise<void> quick;
  queue.async([&] { quick.set_value(); });
  EXPECT_EQ(quick.get_future().wait_for(5s), std::future_status::ready);
  release.set_value();
}

}  // namespace
}  // namespace nimbra
