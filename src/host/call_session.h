#pragma once

#include <memory>
#include <optional>

#include "host/command_line.h"
#include "host/embedding/main_window.h"
#include "host/interface_session.h"
#include "host/terminal/progress_display.h"

namespace nimbra {

// `nimbra call`: plays the interface for one method call. The call goes through the whole
// stack (method codec, messenger, dispatcher, queues, answer on the main loop); the reply
// bytes are decoded and printed as one JSON line on stdout, and the window closes with the
// status:
//   0  answered (the answer on stdout)
//   3  not implemented ("nimbra: not implemented: METHOD" on stderr, nothing on stdout)
//   1  an error answer, an undecodable answer, or an answer that could not be written
// With `events`, it listens on "nimbra/events" first and prints every event to stderr as one
// JSON line, in arrival order, before the answer. Without it, a terminal on stderr gets the
// one-line progress display instead.
class CallSession final : public InterfaceSession {
 public:
  // `window` and `engine` are not owned and must outlive the session.
  CallSession(MainFlutterWindow& window, EngineMessenger& engine, CallOptions options);

  void start() override;

 private:
  void onHostMessage(const std::string& channel, const std::vector<uint8_t>& message);
  [[noreturn]] void onAnswer(const std::vector<uint8_t>& reply);
  [[noreturn]] void fail(const std::string& complaint, int status);

  MainFlutterWindow& window_;
  EngineMessenger& engine_;
  CallOptions options_;
  std::optional<ProgressDisplay> display_;
};

}  // namespace nimbra
