#pragma once

// `nimbra serve --json`: the interface session of frame_session.h as JSON lines, for scripts,
// one JSON object per line each way:
// - in:  {"id":ID,"method":"NAME","args":ARGS}  ("id" any JSON value, echoed as given; "args"
//        optional, absent = null); blank lines are skipped;
// - out: {"id":ID,"result":VALUE} | {"id":ID,"notImplemented":true} |
//        {"id":ID,"error":{"code":CODE,"message":TEXT,"details":VALUE}} | {"event":EVENT}.
// Every method goes to "nimbra/native"; the session listens on "nimbra/events" itself when it
// starts, so events are always on, and "cancel" is the service's cancel method. A line that is
// not such a call (not JSON, not an object, no string "method", longer than 64 MiB) is answered
// with code "bad-request", a message naming the line, and the line's "id" when it has one (else
// null); the session goes on. The end of input is the end of the script's work, not of the
// window: every call read is answered (with the events that come before its answer), then the
// process ends with status 0. Reading, writing and their bounds are the frame session's.

#include <cstdint>
#include <string>
#include <vector>

#include "channel/value.h"
#include "host/embedding/main_window.h"
#include "host/interface_session.h"
#include "host/serve/session_flow.h"
#include "service/main_loop.h"

namespace nimbra {

class JsonLinesSession final : public InterfaceSession {
 public:
  JsonLinesSession(MainFlutterWindow& window, EngineMessenger& engine, MainLoop& loop, int inputFd,
                   int outputFd);

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
  SessionFlow flow_;
};

}  // namespace nimbra
