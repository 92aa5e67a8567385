#include "app/serve_command.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include "app/buffered_input.h"
#include "app/command_line.h"
#include "app/fd_io.h"
#include "app/json_value.h"
#include "channel/nimbra_native.h"

namespace nimbra {
namespace {

// The same bound as a binary frame: a line is one message.
constexpr size_t kMaxLineLength = kMaxFrameBodySize;

bool isBlank(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

// An answer that is not a success, on the client's line.
ValueMap errorLine(const Value& id, const std::vector<uint8_t>& reply) {
  Decoded<Envelope> envelope = decodeEnvelope(reply);
  if (!envelope) {
    return {{"id", id},
            {"error", ValueMap{{"code", "undecodable"}, {"message", envelope.error}, {"details", Value()}}}};
  }
  if (!envelope.value->success) {
    return {{"id", id},
            {"error", ValueMap{{"code", envelope.value->code},
                               {"message", envelope.value->message},
                               {"details", envelope.value->details}}}};
  }
  return {{"id", id}, {"result", envelope.value->result}};
}



}  // namespace

JsonLinesSession::JsonLinesSession(MainFlutterWindow& window, EngineMessenger& engine,
                                   MainLoop& loop, int inputFd, int outputFd)
    : window_(window), engine_(engine), loop_(loop), inputFd_(inputFd), outputFd_(outputFd) {}

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
    switch (input.readLine(line, kMaxLineLength)) {
      case BufferedInput::Status::ok:
        loop_.post([this, line, lineNumber] { onLine(line, lineNumber); });
        continue;
      case BufferedInput::Status::end:
        loop_.post([this] { window_.close(kExitSuccess); });
        return;
      case BufferedInput::Status::tooLong:
        loop_.post([this, lineNumber] {
          closeWithComplaint(window_,
                             "malformed line " + std::to_string(lineNumber) + ": longer than " +
                                 std::to_string(kMaxLineLength) + " bytes",
                             kExitFailure);
        });
        return;
      case BufferedInput::Status::failed:
        loop_.post([this, error = input.lastError()] {
          closeWithComplaint(window_, std::string("cannot read input: ") + std::strerror(error),
                             kExitFailure);
        });
        return;
    }
  }
}

void JsonLinesSession::onLine(const std::string& line, uint64_t lineNumber) {
  if (isBlank(line)) return;
  const std::string where = "malformed line " + std::to_string(lineNumber) + ": ";
  Decoded<Value> parsed = parseJsonValue(line);
  if (!parsed) closeWithComplaint(window_, where + parsed.error, kExitFailure);
  ValueMap* request = parsed.value->getIf<ValueMap>();
  if (!request) closeWithComplaint(window_, where + "not a JSON object", kExitFailure);
  auto method = request->find("method");
  if (method == request->end() || !method->second.getIf<std::string>()) {
    closeWithComplaint(window_, where + "\"method\" must be a string", kExitFailure);
  }
  auto id = request->find("id");
  auto args = request->find("args");
  // Moved, not copied: a copy would recurse once per level of the arguments' nesting.
  engine_.deliverFromInterface(
      kNativeChannel,
      encodeMethodCall({*method->second.getIf<std::string>(),
                        args == request->end() ? Value() : std::move(args->second)}),
      [this, id = id == request->end() ? Value() : std::move(id->second)](std::vector<uint8_t> reply) {
        writeAnswer(id, reply);
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
  const TextSink toClient = [this](std::string_view piece) { return writeAll(outputFd_, piece); };
  Decoded<bool> written = writeSuccessAsJson(reply, prefix, toClient);
  if (!written) {
    writeLine(toJsonText(errorLine(id, reply)));
  } else if (!*written.value || !writeAll(outputFd_, "}\n")) {
    closeWithComplaint(window_, std::string("cannot write to the client: ") + std::strerror(errno),
                       kExitFailure);
  }
}

void JsonLinesSession::writeLine(std::string line) {
  line.push_back('\n');
  if (!writeAll(outputFd_, line)) {
    closeWithComplaint(window_, std::string("cannot write to the client: ") + std::strerror(errno),
                       kExitFailure);
  }
}

}  // namespace nimbra
