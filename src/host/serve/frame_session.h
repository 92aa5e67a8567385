#pragma once

// `nimbra serve`: the interface session over stdin and stdout, for a client in another
// process, in frames (serve_frames.h has the layout); `serve --json` is the same session in JSON
// lines (json_lines_session.h).
// - kind 0 on any channel is handed to the host's handler for that channel and answered with
//   exactly one kind-1 frame with the same id and channel; its message is the reply's bytes,
//   empty for "not implemented" — which is also the answer for a channel nobody handles and
//   for a call that does not decode;
// - kind 2 is handed over the same way and its reply, if any, is dropped;
// - kind 1 answers a kind-0 frame of the host's own (ids numbered by the host from 1); one
//   that matches no open host request is reported on stderr and otherwise ignored;
// - everything the host sends without wanting an answer (every event, on "nimbra/events")
//   goes out as a kind-2 frame with id 0.
//
// In both dialects input is read on its own thread and handed to the main loop in order, so a
// blocked read never holds up answers. Output is written whole and in order, from the main loop
// only; what the client is slow to take waits in a bounded queue (session_flow.h), and input is
// read only while few enough calls await their answers and little enough output waits, so a
// client that stops reading stops the session's reading too and its memory stays bounded.
// For frames the end of input closes the window: what is queued is written, then the process
// ends at once with status 0, whatever still runs. A malformed frame, input ending inside a
// frame and a failing read (in either dialect) are reported on stderr and end the process
// with status 1; so does output that can no longer be written.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/embedding/main_window.h"
#include "host/interface_session.h"
#include "host/serve/serve_frames.h"
#include "host/serve/session_flow.h"
#include "service/main_loop.h"

namespace nimbra {

class FrameSession final : public InterfaceSession {
 public:
  // Not owned; all must outlive the process (the reader thread is never joined: the session
  // ends with the process).
  FrameSession(MainFlutterWindow& window, EngineMessenger& engine, MainLoop& loop, int inputFd,
               int outputFd);

  void start() override;

 private:
  void readFrames();
  void onFrame(Frame frame, size_t size);
  void onHostMessage(const std::string& channel, std::vector<uint8_t> message, BinaryReply reply);
  void write(const Frame& frame);

  MainFlutterWindow& window_;
  EngineMessenger& engine_;
  MainLoop& loop_;
  int inputFd_;
  SessionFlow flow_;
  // Main loop only.
  std::map<int64_t, BinaryReply> hostRequests_;
  int64_t nextHostRequestId_ = 1;
};

}  // namespace nimbra
