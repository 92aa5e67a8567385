#include "service/dispatch_queue.h"

#include <algorithm>

namespace nimbra {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
  worker_ = std::thread([this] { work(); });
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

void SerialQueue::async(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void SerialQueue::work() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
    if (tasks_.empty()) return;  // stopping, and everything submitted has run
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}

ConcurrentQueue::ConcurrentQueue(std::string label) : label_(std::move(label)) {}

ConcurrentQueue::~ConcurrentQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& t : workers_) t.join();
}

void ConcurrentQueue::async(Task task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(task));
  // Each queued task needs an idle thread of its own; start one when there are too few.
  if (tasks_.size() > idle_) {
    workers_.emplace_back([this] { work(); });
  } else {
    wake_.notify_one();
  }
}

bool ConcurrentQueue::isCurrent() const {
  std::lock_guard lock(mutex_);
  const auto me = std::this_thread::get_id();
  return std::any_of(workers_.begin(), workers_.end(),
                     [&](const std::thread& t) { return t.get_id() == me; });
}

void ConcurrentQueue::work() {
  std::unique_lock lock(mutex_);
  while (true) {
    ++idle_;
    wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
    --idle_;
    if (tasks_.empty()) return;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}

}  // namespace nimbra
