#pragma once

// The pace of a `serve` session. What goes to the client waits in a bounded queue while the
// client is slow to read, and the input is read only while there is room: few enough calls
// read and not yet answered, and little enough output waiting. A client that writes calls and
// never reads the answers finds its own writes blocked; the session does not grow.
//
// Output is still written from the main loop only, and in order, so frames and lines leave
// whole: the main loop writes what the client takes at once and queues the rest; a watcher
// thread wakes it when the client can take more.

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "service/main_loop.h"

namespace nimbra {

class SessionFlow {
 public:
  // Output waiting for the client beyond which no more input is read; past it, a write on the
  // main loop waits for the client as a blocking write would, so the queue never holds much
  // more (one write's bytes at most).
  static constexpr size_t kMaxQueuedOutput = size_t{4} << 20;
  // Items (calls, lines) read and not yet dealt with, and their bytes. One item is always let
  // in, however large (a frame or a line is at most 64 MiB).
  static constexpr size_t kMaxItemsInFlight = 1024;
  static constexpr size_t kMaxInputInFlight = size_t{64} << 20;

  // `outputFd` is the client's output (not owned). `onFailure` runs on the main loop with an
  // errno-style code when queued output can no longer be written. Must outlive the process,
  // as the sessions do: the watcher thread is never joined.
  SessionFlow(MainLoop& loop, int outputFd, std::function<void(int error)> onFailure);
  SessionFlow(const SessionFlow&) = delete;
  SessionFlow& operator=(const SessionFlow&) = delete;

  // Reader thread: blocks until another item may be read.
  void waitForRoom();
  // Reader thread: an item of `bytes` bytes was read and is on its way to the main loop.
  void itemRead(size_t bytes);
  // Main loop: that item has been dealt with (answered, or handled without an answer).
  void itemDone(size_t bytes);
  // Reader thread: blocks until every item read has been dealt with.
  void waitUntilAllDone();

  // Main loop only. Sends `bytes` after everything written before; false when the client's
  // output can no longer be written (errno says why).
  bool write(std::string_view bytes);
  // Main loop only. Blocks until nothing is queued; false on failure.
  bool drain();

 private:
  // Writes queued bytes until the client takes no more for now; false on failure.
  bool flushQueued();
  // Bytes written from `bytes` without waiting (0 when the client takes none now), -1 on failure.
  ssize_t writeNow(std::string_view bytes);
  void setQueued(size_t size);
  // Main loop: asks the watcher to wake it once the client can take more.
  void watch();
  void watchForRoom();
  void onClientReady();

  MainLoop& loop_;
  int fd_;
  bool isSocket_ = false;
  std::function<void(int)> onFailure_;

  // Main loop only: bytes not yet taken by the client, from `sent_` on.
  std::string queue_;
  size_t sent_ = 0;

  std::mutex mutex_;
  std::condition_variable changed_;
  size_t queued_ = 0;  // queue_.size() - sent_, for the reader
  size_t itemsInFlight_ = 0;
  size_t bytesInFlight_ = 0;
  bool watcherStarted_ = false;
  bool watching_ = false;
};

}  // namespace nimbra
