#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "app/command_line.h"
#include "app/interface_session.h"
#include "app/interrupt_watch.h"
#include "app/progress_display.h"
#include "app/shell.h"
#include "channel/main_loop.h"

namespace nimbra {

// The commands for people: plays the interface like `nimbra call` (each call encoded, handed
// to the messenger, dispatched on the service's queues, answered on the main loop), one call
// after the other, then prints the view of the answers on stdout — or, with --json, each
// answer as `call` prints it. Exit statuses: 0 shown, 3 a method not implemented, 1 an error
// answer or a refused `junk clean`, 2 an unknown junk category, 130 interrupted by Ctrl-C
// (the partial answer is still shown). The one-line progress display runs on a terminal.
class ViewSession final : public InterfaceSession {
 public:
  // `window` and `engine` are not owned and must outlive the session. Call blockInterrupts()
  // before the first thread starts.
  ViewSession(MainFlutterWindow& window, EngineMessenger& engine, MainLoop& loop, ViewCommand command);

  void start() override;

 private:
  void send(const MethodCall& call);
  void onAnswer(const std::string& method, const std::vector<uint8_t>& reply);
  void cleanJunk();
  [[noreturn]] void show();
  [[noreturn]] void fail(const std::string& complaint, int status);

  MainFlutterWindow& window_;
  EngineMessenger& engine_;
  MainLoop& loop_;
  ViewCommand command_;
  std::vector<Value> answers_;
  size_t nextCall_ = 0;
  std::optional<ProgressDisplay> display_;
  std::unique_ptr<InterruptWatch> interrupts_;
};

}  // namespace nimbra
