#pragma once

// The one native service object: the method channel "nimbra/native", the event channel
// "nimbra/events", progress, cancellation, and every operation behind the methods.
//
// Each area defines its member operations in its own folder (junk/, finders/, removal/ ...);
// this header only declares them. Every operation is a synchronous function from typed
// parameters to a ValueMap; all concurrency is in the dispatcher's choice of queue.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "channel/binary_messenger.h"
#include "service/dispatch_queue.h"
#include "channel/event_channel.h"
#include "service/main_loop.h"
#include "channel/method_call.h"
#include "channel/method_result.h"
#include "channel/value.h"
#include "platform/process/command_runner.h"
#include "platform/process/script_runner.h"
#include "platform/machine/machine_sources.h"

namespace nimbra {

inline constexpr const char* kNativeChannel = "nimbra/native";
inline constexpr const char* kEventsChannel = "nimbra/events";
inline constexpr const char* kWorkQueueLabel = "com.teskel.nimbra.work";
inline constexpr const char* kInfoQueueLabel = "com.teskel.nimbra.info";

// Wall-clock seconds since 1970, as a double.
using Clock = std::function<double()>;
double wallClockSeconds();
// Blocks the calling thread for the given seconds.
using Pause = std::function<void(double)>;
void sleepSeconds(double seconds);

class NimbraNative final : public StreamHandler {
 public:
  // Where the service meets the world; tests substitute fakes here. Null runners mean the
  // real ones.
  struct Seams {
    MainLoop* mainLoop = &MainLoop::main();
    Clock clock = wallClockSeconds;
    CommandRunner* commandRunner = nullptr;
    ScriptRunner* scriptRunner = nullptr;
    // The machine's files, volumes and names; null means the real machine.
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

  // --- Event stream (main loop only) ---
  std::optional<StreamError> onListen(const Value& arguments,
                                      std::unique_ptr<EventSink> events) override;
  std::optional<StreamError> onCancel(const Value& arguments) override;

  // --- Progress and cancellation (any thread) ---
  // Offers one progress event; unforced events within 0.12 s of the last one let through (by
  // any operation) are dropped. Delivered on the main loop in order; lost without a listener.
  void progress(const std::string& task, const std::string& path, int64_t count, int64_t bytes,
                bool force);
  bool isCancelled();
  void resetCancel();
  void cancel();

  // --- Runners (block the calling queue thread; never the main loop) ---
  std::string run(const std::string& program, const std::vector<std::string>& arguments);
  // `run` that also tells whether the program succeeded, with its error text when not.
  CheckedOutput runChecked(const std::string& program, const std::vector<std::string>& arguments);
  ScriptResult runAppleScriptResult(const std::string& script);

  // --- Operations (work queue unless noted) ---
  // Logical bytes below `path`; links count 0 and are never followed. Any queue.
  int64_t sizeOf(const std::string& path);
  // The directory names the file finders prune.
  static const std::set<std::string>& skippedDirNames();

  ValueMap scanJunk();
  ValueMap emptyTrash();
  ValueMap scanLargeFiles(const std::string& root, int64_t minSize);
  ValueMap scanDuplicates(const std::string& root, int64_t minSize);
  ValueMap analyzeDisk(const std::string& root, int64_t depth);
  // Any queue (startup item removal runs it on the info queue).
  ValueMap deleteItems(const std::vector<std::string>& paths, bool toTrash, bool allowAdmin);
  // Empties the directory at `path` as far as it can; never follows links.
  void deleteContents(const std::string& path);
  // Moves each item into the user's Trash, where it stays, restorable; stops between items
  // when cancelled. {"trashed", "failed"} name the caller's own paths, "error" the first
  // failures' texts, "cancelled" whether paths were left untried (in neither list).
  ValueMap trashItems(const std::vector<std::string>& paths);
  // The applications of /Applications, ~/Applications and /Applications/Utilities, largest
  // first, with their 64 x 64 icons; and what an application left in the library folders.
  ValueMap listApps();
  ValueMap appLeftovers(const std::string& bundleId, const std::string& name);

  // --- Desktop services (main loop; they never block it) ---
  // "mac-" and 40 hex digits derived from the machine's UUID, recomputed on every call.
  std::string deviceIdentifier();
  // The computer name; "Mac" when it has none.
  std::string deviceName();
  // Shows the item selected in the file manager, else opens its parent folder. Detached.
  void revealPath(const std::string& path);
  // Opens the item with its default application. Detached.
  void openPath(const std::string& path);
  // Returns at once; `completion` runs later, once, on the main loop, with the chosen folder
  // or nullopt (cancelled, failed, no panel program, no display).
  using FolderCompletion = std::function<void(std::optional<std::string>)>;
  void pickFolder(FolderCompletion completion);

  // --- System monitoring (info queue) ---
  ValueMap systemInfo();
  ValueMap memoryInfo();
  // Purges the file caches as administrator; blocks for the password prompt and a 1.2 s pause.
  ValueMap optimizeMemory();

  // --- Startup items (info queue) ---
  // Launch agents and daemons from their folders, then the login items: {"items": [...]}.
  ValueMap listStartupItems();
  // Marks a launch job (id: its file) enabled or disabled in its file and loads or unloads it.
  ValueMap setStartupItem(const std::string& id, const std::string& kind, bool enabled);
  // Disables and unloads a launch job, then deletes its file; or deletes a login item.
  ValueMap removeStartupItem(const std::string& id, const std::string& kind);

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

  std::unique_ptr<EventSink> eventSink;  // main loop only
  std::mutex cancelLock;
  bool _cancelled = false;
  double lastProgress = 0;
  std::mutex progressLock;

  // Declared last: their destructors wait for running tasks, which use the fields above.
  ConcurrentQueue infoQueue_{kInfoQueueLabel};
  SerialQueue workQueue_{kWorkQueueLabel};
};

}  // namespace nimbra
