#include "service/nimbra_native.h"

#include <chrono>
#include <thread>

#include "service/method_args.h"
#include "channel/method_channel.h"
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

void sleepSeconds(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

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
    case Runs::main:
      answer->success(entry->perform(*this, argumentMap(call.arguments)));
      return;
    case Runs::mainLater:
      entry->start(*this, argumentMap(call.arguments),
                   [this, answer](Value value) { replyOnMain(answer, std::move(value)); });
      return;
    case Runs::info:
      infoQueue_.async([this, entry, answer, arguments = std::move(call.arguments)] {
        replyOnMain(answer, entry->perform(*this, argumentMap(arguments)));
      });
      return;
    case Runs::work:
      workQueue_.async([this, entry, answer, arguments = std::move(call.arguments)] {
        resetCancel();
        replyOnMain(answer, entry->perform(*this, argumentMap(arguments)));
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
  eventSink = std::move(events);
  return std::nullopt;
}

std::optional<StreamError> NimbraNative::onCancel(const Value&) {
  eventSink.reset();
  return std::nullopt;
}

void NimbraNative::progress(const std::string& task, const std::string& path, int64_t count,
                            int64_t bytes, bool force) {
  const double now = seams_.clock();
  {
    std::lock_guard lock(progressLock);
    if (!force && now - lastProgress < kProgressInterval) return;
    lastProgress = now;
  }
  ValueMap event{{"task", task}, {"path", path}, {"count", count}, {"bytes", bytes}};
  mainLoop().post([this, event = std::move(event)] {
    if (eventSink) eventSink->success(event);
  });
}

bool NimbraNative::isCancelled() {
  std::lock_guard lock(cancelLock);
  return _cancelled;
}

void NimbraNative::resetCancel() {
  std::lock_guard lock(cancelLock);
  _cancelled = false;
}

void NimbraNative::cancel() {
  std::lock_guard lock(cancelLock);
  _cancelled = true;
}

std::string NimbraNative::run(const std::string& program, const std::vector<std::string>& arguments) {
  return seams_.commandRunner->run(program, arguments);
}

CheckedOutput NimbraNative::runChecked(const std::string& program, const std::vector<std::string>& arguments) {
  return seams_.commandRunner->runChecked(program, arguments);
}

ScriptResult NimbraNative::runAppleScriptResult(const std::string& script) {
  return seams_.scriptRunner->runScript(script);
}

}  // namespace nimbra
