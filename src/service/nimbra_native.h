#pragma once

// The one native service object: the method channel "nimbra/native", the event channel
// "nimbra/events", and what every operation is given to run: progress (throttled, delivered
// as events), cancellation, the runners, the machine sources and the queues. The operations
// themselves are free functions of an OperationContext (ops/); the method table (method_table.h)
// says which runs on which queue.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "channel/binary_messenger.h"
#include "channel/event_channel.h"
#include "channel/method_call.h"
#include "channel/method_result.h"
#include "channel/value.h"
#include "ops/operation_context.h"
#include "service/channel_names.h"
#include "service/dispatch_queue.h"
#include "service/main_loop.h"

namespace nimbra {

class DiskWalkSink;

inline constexpr const char* kWorkQueueLabel = "com.teskel.nimbra.work";
inline constexpr const char* kInfoQueueLabel = "com.teskel.nimbra.info";

// Wall-clock seconds since 1970, as a double.
using Clock = std::function<double()>;
double wallClockSeconds();
void sleepSeconds(double seconds);

class NimbraNative final : public StreamHandler, public ProgressSink, public CancellationFlag {
 public:
  // Where the service meets the world; tests substitute fakes here. Null runners and sources
  // mean the real ones.
  struct Seams {
    MainLoop* mainLoop = &MainLoop::main();
    Clock clock = wallClockSeconds;
    CommandRunner* commandRunner = nullptr;
    ScriptRunner* scriptRunner = nullptr;
    MachineSources* machineSources = nullptr;
    Pause pause = sleepSeconds;
  };

  // The process's service object, created on first use (thread-safe) and never destroyed.
  static NimbraNative& shared();
  // Installs both channels of `shared` on the messenger (the embedding's register(with:)).
  static void registerWith(BinaryMessenger* messenger);

  explicit NimbraNative(Seams seams);
  NimbraNative() : NimbraNative(Seams{}) {}
  ~NimbraNative() override;
  NimbraNative(const NimbraNative&) = delete;
  NimbraNative& operator=(const NimbraNative&) = delete;

  // Installs this object's handlers for "nimbra/native" and "nimbra/events". Main loop only.
  void install(BinaryMessenger* messenger);

  // The dispatcher. Main loop only; returns at once and answers through `result` exactly once,
  // always on the main loop. The arguments move to the task that decodes them.
  void handle(MethodCall call, std::unique_ptr<MethodResult> result);

  // The context of one operation, with the folders read now. Built on the thread that runs it.
  OperationContext operationContext();

  // --- Event stream (main loop only) ---
  std::optional<StreamError> onListen(const Value& arguments,
                                      std::unique_ptr<EventSink> events) override;
  std::optional<StreamError> onCancel(const Value& arguments) override;

  // --- Progress and cancellation (any thread) ---
  // Offers one progress event; unforced events within 0.12 s of the last one let through (by
  // any operation) are dropped. Delivered on the main loop in order; lost without a listener.
  void offer(const std::string& task, const std::string& path, int64_t count, int64_t bytes,
             bool force) override;
  bool isCancelled() override;
  void resetCancel();
  void cancel();

  // Sinks that the walk of every "analyzeDisk" feeds besides its tree (the host's ncdu export).
  // Not owned: each must outlive the calls it is fed by. Any thread.
  void addDiskWalkSink(DiskWalkSink* sink);
  std::vector<DiskWalkSink*> diskWalkSinks();

  // Posts one answer to the main loop.
  void replyOnMain(std::shared_ptr<MethodResult> result, std::optional<Value> answer);

  MainLoop& mainLoop() { return *seams_.mainLoop; }
  SerialQueue& workQueue() { return workQueue_; }
  ConcurrentQueue& infoQueue() { return infoQueue_; }

 private:
  Seams seams_;
  std::unique_ptr<CommandRunner> ownCommandRunner_;
  std::unique_ptr<ScriptRunner> ownScriptRunner_;
  std::unique_ptr<MachineSources> ownMachineSources_;

  std::unique_ptr<EventSink> eventSink_;  // main loop only
  // Asked for every entry a walk hands out: a flag read without a lock.
  std::atomic<bool> _cancelled{false};
  std::mutex progressLock_;
  double lastProgress_ = 0;
  std::mutex diskWalkSinksLock_;
  std::vector<DiskWalkSink*> diskWalkSinks_;

  // Declared last: their destructors wait for running tasks, which use the fields above.
  ConcurrentQueue infoQueue_{kInfoQueueLabel};
  SerialQueue workQueue_{kWorkQueueLabel};
};

}  // namespace nimbra
