#include "host/serve/session_flow.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace nimbra {
namespace {

// Where the session writes without waiting. A pipe is opened anew through /proc, giving the
// session an open file description of its own: O_NONBLOCK set on the inherited one would
// reach every process sharing it (a shell, a terminal). A socket is sent to with
// MSG_DONTWAIT instead. Files and terminals do not wait for a reader and are written as they
// are; so is a pipe that cannot be reopened, whose writes then block the main loop while
// the reader is still held back by the calls in flight.
int clientOutput(int fd, bool& isSocket) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return fd;
  isSocket = S_ISSOCK(info.st_mode);
  if (!S_ISFIFO(info.st_mode)) return fd;
  const int own =
      ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  return own >= 0 ? own : fd;
}

// Blocks until `fd` can take bytes or has failed (the write that follows then says how).
void waitWritable(int fd) {
  pollfd ready{fd, POLLOUT, 0};
  while (::poll(&ready, 1, -1) < 0 && errno == EINTR) {
  }
}

}  // namespace

SessionFlow::SessionFlow(MainLoop& loop, int outputFd, std::function<void(int error)> onFailure)
    : loop_(loop), fd_(clientOutput(outputFd, isSocket_)), onFailure_(std::move(onFailure)) {}

void SessionFlow::waitForRoom() {
  std::unique_lock lock(mutex_);
  // Input stops at half the output bound: the other half takes the answers to the calls
  // already read without making the main loop wait.
  changed_.wait(lock, [&] {
    return itemsInFlight_ < kMaxItemsInFlight && bytesInFlight_ < kMaxInputInFlight &&
           queued_ < kMaxQueuedOutput / 2;
  });
}

void SessionFlow::itemRead(size_t bytes) {
  std::lock_guard lock(mutex_);
  ++itemsInFlight_;
  bytesInFlight_ += bytes;
}

void SessionFlow::itemDone(size_t bytes) {
  {
    std::lock_guard lock(mutex_);
    --itemsInFlight_;
    bytesInFlight_ -= bytes;
  }
  changed_.notify_all();
}

void SessionFlow::waitUntilAllDone() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return itemsInFlight_ == 0; });
}

bool SessionFlow::write(std::string_view bytes) {
  if (!flushQueued()) return false;
  while (!bytes.empty()) {
    if (sent_ == queue_.size()) {
      const ssize_t wrote = writeNow(bytes);
      if (wrote < 0) return false;
      bytes.remove_prefix(static_cast<size_t>(wrote));
      if (bytes.empty()) break;
    }
    if (queue_.size() - sent_ + bytes.size() <= kMaxQueuedOutput) {
      queue_.append(bytes);
      setQueued(queue_.size() - sent_);
      watch();
      return true;
    }
    // The queue is full: wait for the client here, as a blocking write would.
    waitWritable(fd_);
    if (!flushQueued()) return false;
  }
  return true;
}

bool SessionFlow::drain() {
  while (sent_ < queue_.size()) {
    waitWritable(fd_);
    if (!flushQueued()) return false;
  }
  return true;
}

bool SessionFlow::flushQueued() {
  if (sent_ == queue_.size()) return true;
  while (sent_ < queue_.size()) {
    const ssize_t wrote = writeNow(std::string_view(queue_).substr(sent_));
    if (wrote < 0) return false;
    if (wrote == 0) break;
    sent_ += static_cast<size_t>(wrote);
  }
  if (sent_ == queue_.size()) {
    queue_.clear();
    sent_ = 0;
  } else if (sent_ > queue_.size() / 2) {
    queue_.erase(0, sent_);
    sent_ = 0;
  }
  setQueued(queue_.size() - sent_);
  return true;
}

ssize_t SessionFlow::writeNow(std::string_view bytes) {
  while (true) {
    const ssize_t wrote = isSocket_
                              ? ::send(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
                              : ::write(fd_, bytes.data(), bytes.size());
    if (wrote >= 0) return wrote;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

void SessionFlow::setQueued(size_t size) {
  bool fell = false;
  {
    std::lock_guard lock(mutex_);
    fell = size < queued_;
    queued_ = size;
  }
  if (fell) changed_.notify_all();
}

void SessionFlow::watch() {
  {
    std::lock_guard lock(mutex_);
    if (watching_) return;
    watching_ = true;
    if (!watcherStarted_) {
      watcherStarted_ = true;
      std::thread([this] { watchForRoom(); }).detach();
    }
  }
  changed_.notify_all();
}

void SessionFlow::watchForRoom() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [&] { return watching_; });
    lock.unlock();
    waitWritable(fd_);
    lock.lock();
    // Cleared before the flush is posted, so that a write after it asks again.
    watching_ = false;
    loop_.post([this] { onClientReady(); });
  }
}

void SessionFlow::onClientReady() {
  if (!flushQueued()) {
    onFailure_(errno);
    return;
  }
  if (sent_ < queue_.size()) watch();
}

}  // namespace nimbra
