#pragma once

// SHA-256 fed on a thread of its own, so that the duplicate comparison reads and compares the
// next window of a class while the last one is hashed: on a machine with two cores the two
// halves of the work, each about as long as the other, overlap instead of adding up.

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/sha256.h"

namespace nimbra {

class BackgroundHasher {
 public:
  // Bytes for one state. The state is shared so that it outlives its feeding whatever the
  // caller drops meanwhile; the bytes must stay put until wait() returns.
  struct Feed {
    std::shared_ptr<Sha256> state;
    const char* data;
    size_t size;
  };

  BackgroundHasher() = default;
  // Finishes the batch in hand first.
  ~BackgroundHasher();
  BackgroundHasher(const BackgroundHasher&) = delete;
  BackgroundHasher& operator=(const BackgroundHasher&) = delete;

  // Waits for the batch before, then hands this one over. The thread starts with the first
  // batch: a scan with nothing past its prefixes never starts one.
  void start(std::vector<Feed> batch);
  // Returns once every batch handed over is done; the states are then safe to read.
  void wait();

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Feed> batch_;  // the batch in hand; empty when idle
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace nimbra
