#pragma once

// `nimbra serve`: the interface session over stdin and stdout, for a client in another
// process. Two dialects share one behaviour:
//
// Frames (the default; see serve_frames.h for the layout):
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
// JSON lines (--json), one JSON object per line each way:
// - in:  {"id":ID,"method":"NAME","args":ARGS}  ("id" any JSON value, echoed as given; "args"
//        optional, absent = null); blank lines are skipped;
// - out: {"id":ID,"result":VALUE} | {"id":ID,"notImplemented":true} |
//        {"id":ID,"error":{"code":..,"message":..,"details":..}} (never sent by the service
//        today) | {"event":EVENT}.
//   Every method goes to "nimbra/native"; the session listens on "nimbra/events" itself when
//   it starts, so events are always on, and "cancel" is the service's cancel method.
//
// Both: input is read on its own thread and handed to the main loop in order, so a blocked
// read never holds up answers; output is written whole, from the main loop only. The end of
// input closes the window: the process ends at once with status 0, whatever still runs.
// Malformed input (a bad frame or line, input ending inside a frame, a failing read) is
// reported on stderr and ends the process with status 1; so does output that can no longer be
// written.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/interface_session.h"
#include "app/serve_frames.h"
#include "app/shell.h"
#include "channel/main_loop.h"

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
  void onFrame(Frame frame);
  void onHostMessage(const std::string& channel, std::vector<uint8_t> message, BinaryReply reply);
  void write(const Frame& frame);

  MainFlutterWindow& window_;
  EngineMessenger& engine_;
  MainLoop& loop_;
  int inputFd_;
  int outputFd_;
  // Main loop only.
  std::map<int64_t, BinaryReply> hostRequests_;
  int64_t nextHostRequestId_ = 1;
};

class JsonLinesSession final : public InterfaceSession {
 public:
  JsonLinesSession(MainFlutterWindow& window, EngineMessenger& engine, MainLoop& loop,
                   int inputFd, int outputFd);

  void start() override;

 private:
  void readLines();
  void onLine(const std::string& line, uint64_t lineNumber);
  void writeAnswer(const Value& id, const std::vector<uint8_t>& reply);
  void writeLine(std::string line);

  MainFlutterWindow& window_;
  EngineMessenger& engine_;
  MainLoop& loop_;
  int inputFd_;
  int outputFd_;
};

}  // namespace nimbra
