#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nimbra {

// A serial dispatch queue: one worker thread runs tasks one at a time, in submission order.
// The destructor waits for every submitted task to finish.
class SerialQueue {
 public:
  using Task = std::function<void()>;
  explicit SerialQueue(std::string label);
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  // Thread-safe; returns at once. Nothing removes a submitted task.
  void async(Task task);
  const std::string& label() const { return label_; }
  // Whether the calling thread is this queue's worker.
  bool isCurrent() const { return std::this_thread::get_id() == worker_.get_id(); }

 private:
  void work();

  std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  bool stopping_ = false;
  std::thread worker_;
};

// A concurrent dispatch queue: every task starts at once. Tasks may block for a long time
// (child processes, password prompts), so a fixed pool would let one slow task hold up
// others; idle threads are reused and a new one is started when none is idle.
// The destructor waits for every submitted task to finish.
class ConcurrentQueue {
 public:
  using Task = std::function<void()>;
  explicit ConcurrentQueue(std::string label);
  ~ConcurrentQueue();
  ConcurrentQueue(const ConcurrentQueue&) = delete;
  ConcurrentQueue& operator=(const ConcurrentQueue&) = delete;

  void async(Task task);
  const std::string& label() const { return label_; }
  bool isCurrent() const;

 private:
  void work();

  std::string label_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  size_t idle_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace nimbra
