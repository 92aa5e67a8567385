#include "service/nimbra_native.h"

#include <chrono>
#include <thread>

#include "channel/method_channel.h"
#include "platform/machine/machine_sources.h"
#include "platform/process/command_runner.h"
#include "platform/process/script_runner.h"
#include "service/method_args.h"
#include "service/method_table.h"

namespace nimbra {
namespace {

// Unforced progress events closer together than this are dropped, across all operations.
constexpr double kProgressInterval = 0.12;

}  // namespace

double wallClockSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

void sleepSeconds(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

NimbraNative& NimbraNative::shared() {
  // Never destroyed: work tasks may still run while the process exits.
  static NimbraNative* service = new NimbraNative();
  return *service;
}

void NimbraNative::registerWith(BinaryMessenger* messenger) { shared().install(messenger); }

NimbraNative::NimbraNative(Seams seams) : seams_(std::move(seams)) {
  if (!seams_.mainLoop) seams_.mainLoop = &MainLoop::main();
  if (!seams_.clock) seams_.clock = wallClockSeconds;
  if (!seams_.commandRunner) {
    ownCommandRunner_ = std::make_unique<SpawnCommandRunner>();
    seams_.commandRunner = ownCommandRunner_.get();
  }
  if (!seams_.scriptRunner) {
    ownScriptRunner_ = std::make_unique<ShellScriptRunner>();
    seams_.scriptRunner = ownScriptRunner_.get();
  }
  if (!seams_.machineSources) {
    ownMachineSources_ = std::make_unique<LocalMachineSources>();
    seams_.machineSources = ownMachineSources_.get();
  }
  if (!seams_.pause) seams_.pause = sleepSeconds;
}

NimbraNative::~NimbraNative() = default;

void NimbraNative::install(BinaryMessenger* messenger) {
  MethodChannel(messenger, kNativeChannel)
      .setMethodCallHandler([this](MethodCall call, std::unique_ptr<MethodResult> result) {
        handle(std::move(call), std::move(result));
      });
  EventChannel(messenger, kEventsChannel).setStreamHandler(this);
}

OperationContext NimbraNative::operationContext() {
  return {*this,
          *this,
          *seams_.commandRunner,
          *seams_.scriptRunner,
          *seams_.machineSources,
          Folders::ofCurrentUser(),
          [this](std::function<void()> task) { infoQueue_.async(std::move(task)); },
          seams_.pause};
}

void NimbraNative::handle(MethodCall call, std::unique_ptr<MethodResult> result) {
  const MethodEntry* entry = findMethod(call.method);
  // A result that a queued task answers must outlive handle(); shared so the task stays copyable.
  std::shared_ptr<MethodResult> answer = std::move(result);
  if (!entry) {
    workQueue_.async([this, answer] {
      resetCancel();
      replyOnMain(answer, std::nullopt);
    });
    return;
  }
  switch (entry->runs) {
    case Runs::main: {
      OperationContext context = operationContext();
      answer->success(entry->perform(*this, context, argumentMap(call.arguments)));
      return;
    }
    case Runs::mainLater: {
      OperationContext context = operationContext();
      entry->start(context, argumentMap(call.arguments),
                   [this, answer](Value value) { replyOnMain(answer, std::move(value)); });
      return;
    }
    case Runs::info:
      infoQueue_.async([this, entry, answer, arguments = std::move(call.arguments)] {
        OperationContext context = operationContext();
        replyOnMain(answer, entry->perform(*this, context, argumentMap(arguments)));
      });
      return;
    case Runs::work:
      workQueue_.async([this, entry, answer, arguments = std::move(call.arguments)] {
        resetCancel();
        OperationContext context = operationContext();
        replyOnMain(answer, entry->perform(*this, context, argumentMap(arguments)));
      });
      return;
  }
}

void NimbraNative::replyOnMain(std::shared_ptr<MethodResult> result, std::optional<Value> answer) {
  mainLoop().post([result = std::move(result), answer = std::move(answer)]() mutable {
    if (answer) {
      result->success(std::move(*answer));
    } else {
      result->notImplemented();
    }
  });
}

std::optional<StreamError> NimbraNative::onListen(const Value&, std::unique_ptr<EventSink> events) {
  eventSink_ = std::move(events);
  return std::nullopt;
}

std::optional<StreamError> NimbraNative::onCancel(const Value&) {
  eventSink_.reset();
  return std::nullopt;
}

void NimbraNative::offer(const std::string& task, const std::string& path, int64_t count,
                         int64_t bytes, bool force) {
  const double now = seams_.clock();
  {
    std::lock_guard lock(progressLock_);
    if (!force && now - lastProgress_ < kProgressInterval) return;
    lastProgress_ = now;
  }
  ValueMap event{{"task", task}, {"path", path}, {"count", count}, {"bytes", bytes}};
  mainLoop().post([this, event = std::move(event)] {
    if (eventSink_) eventSink_->success(event);
  });
}

bool NimbraNative::isCancelled() { return _cancelled.load(); }

void NimbraNative::resetCancel() { _cancelled.store(false); }

void NimbraNative::cancel() { _cancelled.store(true); }

void NimbraNative::addDiskWalkSink(DiskWalkSink* sink) {
  std::lock_guard lock(diskWalkSinksLock_);
  diskWalkSinks_.push_back(sink);
}

std::vector<DiskWalkSink*> NimbraNative::diskWalkSinks() {
  std::lock_guard lock(diskWalkSinksLock_);
  return diskWalkSinks_;
}

}  // namespace nimbra
