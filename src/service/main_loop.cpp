#include "service/main_loop.h"

#include <chrono>

namespace nimbra {

MainLoop& MainLoop::main() {
  static MainLoop* loop = new MainLoop();  // never destroyed: tasks may post until _exit
  return *loop;
}

void MainLoop::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void MainLoop::run() {
  std::unique_lock lock(mutex_);
  quitting_ = false;
  while (true) {
    wake_.wait(lock, [&] { return quitting_ || !tasks_.empty(); });
    if (quitting_) break;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
  quitting_ = false;
}

void MainLoop::quit() {
  {
    std::lock_guard lock(mutex_);
    quitting_ = true;
  }
  wake_.notify_all();
}

bool MainLoop::runUntil(const std::function<bool()>& pred, double timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(timeoutSeconds));
  std::unique_lock lock(mutex_);
  while (true) {
    lock.unlock();
    if (pred()) return true;
    lock.lock();
    if (!wake_.wait_until(lock, deadline, [&] { return !tasks_.empty(); })) {
      lock.unlock();
      return pred();
    }
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}

}  // namespace nimbra
