#pragma once

// Ctrl-C for the commands for people: the first SIGINT asks the running work to stop (the
// caller posts "cancel" and still prints the partial answer); a second one ends the process at
// once with status 130, for work that does not stop.
//
// Signals are taken by a thread of their own with sigwait, never by a handler, so the reaction
// may do anything a thread can (post to the main loop). For that, SIGINT must be blocked in
// every thread: call blockInterrupts() before the first thread of the process starts.

#include <atomic>
#include <functional>

namespace nimbra {

inline constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

void blockInterrupts();

class InterruptWatch {
 public:
  // Starts the waiting thread; `onFirst` runs on it at the first SIGINT.
  explicit InterruptWatch(std::function<void()> onFirst);
  bool interrupted() const { return interrupted_.load(); }

 private:
  std::atomic<bool> interrupted_{false};
};

}  // namespace nimbra
