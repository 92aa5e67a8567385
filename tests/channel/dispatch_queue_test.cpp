// The serial and concurrent queues.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <numeric>
#include <thread>
#include <vector>

#include "channel/dispatch_queue.h"

namespace nimbra {
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
  for (int i = 0; i < 6; ++i) queue.async([released] { released.wait(); });  // more than the machine has cores
  std::promise<void> quick;
  queue.async([&] { quick.set_value(); });
  EXPECT_EQ(quick.get_future().wait_for(5s), std::future_status::ready);
  release.set_value();
}

}  // namespace
}  // namespace nimbra
