#pragma once

// What an operation is given by whoever runs it: where its progress goes, whether it should
// stop, the runners and machine sources it may use, the folders it works in, and a way to hand
// a wait to another thread. The service builds one per task; a test fills one in with its own
// folders and fakes, and calls the operation directly.
//
// Every operation is a synchronous function of a context and typed parameters, declared in a
// header of its own with its contract: the queue the service runs it on, whether it blocks,
// where it polls for cancellation, and the keys of its answer.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/machine/machine_sources.h"
#include "platform/process/command_runner.h"
#include "platform/process/script_runner.h"

namespace nimbra {

// Receives an operation's progress. Thread-safe. The service drops an unforced offer that comes
// within 0.12 s of the last one it let through; an operation forces its last offer.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void offer(const std::string& task, const std::string& path, int64_t count, int64_t bytes,
                     bool force) = 0;
};

// Whether the operation under way has been asked to stop. Thread-safe; an operation asks as
// often as its contract says and answers what it has so far.
class CancellationFlag {
 public:
  virtual ~CancellationFlag() = default;
  virtual bool isCancelled() = 0;
};

// The folders an operation works in, read once, when its task starts.
struct Folders {
  std::string home{};                          // no trailing slash added or removed
  std::string temporary{};                     // ends with exactly one "/"
  std::string trash{};                         // the user's Trash (the freedesktop home trash)
  std::string applications = "/Applications";  // its "Utilities" subfolder is searched too
  std::string library = "/Library";
  std::string history{};  // the disk usage history's file (history_store.h)

  // This user's folders, read from the environment now.
  static Folders ofCurrentUser();
};

// Blocks the calling thread for the given seconds.
using Pause = std::function<void(double seconds)>;

struct OperationContext {
  ProgressSink& progress;
  CancellationFlag& cancellation;
  CommandRunner& commands;
  ScriptRunner& scripts;
  MachineSources& machine;
  Folders folders;
  // Runs the task on another thread and returns at once: for a wait the operation must not make
  // where it runs, such as reaping a program started from the main loop.
  std::function<void(std::function<void()> task)> runInBackground;
  Pause pause;

  bool isCancelled() const { return cancellation.isCancelled(); }
};

}  // namespace nimbra
