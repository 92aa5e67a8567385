#include "ops/finders/background_hasher.h"

#include <utility>

namespace nimbra {

BackgroundHasher::~BackgroundHasher() {
  if (!thread_.joinable()) return;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return batch_.empty(); });
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundHasher::start(std::vector<Feed> batch) {
  if (batch.empty()) return;
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return batch_.empty(); });
    batch_ = std::move(batch);
  }
  changed_.notify_all();
}

void BackgroundHasher::wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return batch_.empty(); });
}

void BackgroundHasher::run() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return ending_ || !batch_.empty(); });
    if (batch_.empty()) return;  // ending, with nothing in hand
    // The batch is only read while it is in hand: the caller waits for it to empty before it
    // touches the states or the bytes again.
    lock.unlock();
    for (const Feed& feed : batch_) feed.state->update(feed.data, feed.size);
    lock.lock();
    batch_.clear();  // the last references to states the caller has dropped go here
    changed_.notify_all();
  }
}

}  // namespace nimbra
