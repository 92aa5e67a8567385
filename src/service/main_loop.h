#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace nimbra {

// The main thread's run loop. Everything the embedding does happens on it: calls are handed
// to the service here, and every answer and event is posted back here. Tasks run one at a
// time in the order they were posted.
class MainLoop {
 public:
  using Task = std::function<void()>;

  MainLoop() = default;
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // The process's main loop, the one the host program runs on its main thread.
  static MainLoop& main();

  // Thread-safe. A task posted after quit() is kept and runs if run() is called again.
  void post(Task task);
  // Runs tasks on the calling thread until quit(); that thread becomes the loop's thread.
  void run();
  // Thread-safe. run() returns after the task in progress.
  void quit();
  // Runs tasks already queued (and those they post) until the queue is empty or
  // `pred` holds; for tests and front ends that pump the loop themselves. Answers pred().
  bool runUntil(const std::function<bool()>& pred, double timeoutSeconds);

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  bool quitting_ = false;
};

}  // namespace nimbra
