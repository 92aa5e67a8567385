#include "host/serve/json_lines_session.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include "base/fd_io.h"
#include "host/command_line.h"
#include "host/json/json_parse.h"
#include "host/json/json_text.h"
#include "host/serve/buffered_input.h"
#include "host/serve/serve_frames.h"
#include "service/channel_names.h"

namespace nimbra {
namespace {

// The same bound as a binary frame: a line is one message.
constexpr size_t kMaxLineLength = kMaxFrameBodySize;

bool isBlank(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

// {"id":ID,"error":{...}}: the id first, as on every answer line.
std::string errorAnswer(const Value& id, std::string code, std::string message,
                        Value details = Value()) {
  return "{\"id\":" + toJsonText(id) + ",\"error\":" +
         toJsonText(ValueMap{{"code", std::move(code)},
                             {"message", std::move(message)},
                             {"details", std::move(details)}}) +
         "}";
}

// An answer that is not a success, on the client's line.
std::string errorLine(const Value& id, const std::vector<uint8_t>& reply) {
  Decoded<Envelope> envelope = decodeEnvelope(reply);
  if (!envelope) return errorAnswer(id, "undecodable", envelope.error);
  if (!envelope.value->success) {
    return errorAnswer(id, envelope.value->code, envelope.value->message, envelope.value->details);
  }
  return toJsonText(ValueMap{{"id", id}, {"result", envelope.value->result}});
}

std::string lineProblem(uint64_t lineNumber, const std::string& problem) {
  return "line " + std::to_string(lineNumber) + ": " + problem;
}

[[noreturn]] void cannotWrite(const MainFlutterWindow& window, int error) {
  closeWithComplaint(window, std::string("cannot write to the client: ") + std::strerror(error),
                     kExitFailure);
}

}  // namespace

JsonLinesSession::JsonLinesSession(MainFlutterWindow& window, EngineMessenger& engine,
                                   MainLoop& loop, int inputFd, int outputFd)
    : window_(window),
      engine_(engine),
      loop_(loop),
      inputFd_(inputFd),
      flow_(loop, outputFd, [&window](int error) { cannotWrite(window, error); }) {}

void JsonLinesSession::start() {
  engine_.setInterfaceReceiver(
      [this](const std::string& channel, std::vector<uint8_t> message, BinaryReply reply) {
        // Only events can be said on a line; the host asks nothing else of the interface.
        if (reply) reply({});
        if (channel != kEventsChannel) return;
        if (Decoded<std::string> event = successAsJsonText(message)) {
          writeLine("{\"event\":" + *event.value + "}");
        }
      });
  // A line has no channel field, so the session listens on behalf of its client.
  engine_.deliverFromInterface(kEventsChannel, encodeMethodCall({"listen", Value()}), nullptr);
  std::thread([this] { readLines(); }).detach();
}

void JsonLinesSession::readLines() {
  BufferedInput input(descriptorSource(inputFd_));
  std::string line;
  for (uint64_t lineNumber = 1;; ++lineNumber) {
    flow_.waitForRoom();
    switch (input.readLine(line, kMaxLineLength)) {
      case BufferedInput::Status::ok:
        flow_.itemRead(line.size());
        loop_.post([this, line = std::move(line), lineNumber] { onLine(line, lineNumber); });
        continue;
      case BufferedInput::Status::tooLong:
        flow_.itemRead(0);
        loop_.post([this, lineNumber] {
          writeLine(errorAnswer(
              Value(), "bad-request",
              lineProblem(lineNumber, "longer than " + std::to_string(kMaxLineLength) + " bytes")));
          flow_.itemDone(0);
        });
        continue;
      case BufferedInput::Status::end:
        // The script has said all it will: its calls are answered before the window closes.
        flow_.waitUntilAllDone();
        loop_.post([this] {
          if (!flow_.drain()) cannotWrite(window_, errno);
          window_.close(kExitSuccess);
        });
        return;
      case BufferedInput::Status::failed:
        loop_.post([this, error = input.lastError()] {
          (void)flow_.drain();
          closeWithComplaint(window_, std::string("cannot read input: ") + std::strerror(error),
                             kExitFailure);
        });
        return;
    }
  }
}

void JsonLinesSession::onLine(const std::string& line, uint64_t lineNumber) {
  // The line stays in flight until it has been answered.
  const size_t size = line.size();
  if (isBlank(line)) {
    flow_.itemDone(size);
    return;
  }
  Decoded<Value> parsed = parseJsonValue(line);
  ValueMap* request = parsed ? parsed.value->getIf<ValueMap>() : nullptr;
  auto id = request ? request->find("id") : ValueMap::iterator();
  const bool hasId = request && id != request->end();
  auto method = request ? request->find("method") : ValueMap::iterator();
  const std::string* name =
      request && method != request->end() ? method->second.getIf<std::string>() : nullptr;
  if (!name) {
    const std::string problem = !parsed    ? parsed.error
                                : !request ? "not a JSON object"
                                           : "\"method\" must be a string";
    static const Value kNoId;
    writeLine(
        errorAnswer(hasId ? id->second : kNoId, "bad-request", lineProblem(lineNumber, problem)));
    flow_.itemDone(size);
    return;
  }
  auto args = request->find("args");
  // Moved, not copied: a copy would recurse once per level of the arguments' nesting.
  engine_.deliverFromInterface(
      kNativeChannel,
      encodeMethodCall({*name, args == request->end() ? Value() : std::move(args->second)}),
      [this, id = hasId ? std::move(id->second) : Value(), size](std::vector<uint8_t> reply) {
        writeAnswer(id, reply);
        flow_.itemDone(size);
      });
}

void JsonLinesSession::writeAnswer(const Value& id, const std::vector<uint8_t>& reply) {
  if (reply.empty()) {
    writeLine(toJsonText(ValueMap{{"id", id}, {"notImplemented", true}}));
    return;
  }
  // A result goes from the reply's bytes to the client in pieces, never whole as text. The
  // pieces of one line are written from here alone, so lines stay whole.
  const std::string prefix = "{\"id\":" + toJsonText(id) + ",\"result\":";
  const TextSink toClient = [this](std::string_view piece) { return flow_.write(piece); };
  Decoded<bool> written = writeSuccessAsJson(reply, prefix, toClient);
  if (!written) {
    writeLine(errorLine(id, reply));
  } else if (!*written.value || !flow_.write("}\n")) {
    cannotWrite(window_, errno);
  }
}

void JsonLinesSession::writeLine(std::string line) {
  line.push_back('\n');
  if (!flow_.write(line)) cannotWrite(window_, errno);
}

}  // namespace nimbra
