#include "host/call_session.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/fd_io.h"
#include "channel/standard_codec.h"
#include "host/json/json_text.h"
#include "service/channel_names.h"

namespace nimbra {

CallSession::CallSession(MainFlutterWindow& window, EngineMessenger& engine, CallOptions options)
    : window_(window), engine_(engine), options_(std::move(options)) {}

void CallSession::start() {
  if (!options_.events && ::isatty(STDERR_FILENO)) {
    display_.emplace(STDERR_FILENO, terminalColumns(STDERR_FILENO));
    display_->expect(options_.method);
  }
  if (options_.events || display_) {
    engine_.setInterfaceReceiver(
        [this](const std::string& channel, std::vector<uint8_t> message, BinaryReply reply) {
          onHostMessage(channel, message);
          if (reply) reply({});
        });
    // The listen answer comes back at once on the main loop, before any event can.
    engine_.deliverFromInterface(kEventsChannel, encodeMethodCall({"listen", Value()}), nullptr);
  }
  engine_.deliverFromInterface(kNativeChannel,
                               encodeMethodCall({options_.method, options_.arguments}),
                               [this](std::vector<uint8_t> reply) { onAnswer(reply); });
}

void CallSession::onHostMessage(const std::string& channel, const std::vector<uint8_t>& message) {
  if (channel != kEventsChannel) return;
  Decoded<Envelope> envelope = decodeEnvelope(message);
  if (!envelope || !envelope.value->success) return;
  const Value& event = envelope.value->result;
  if (options_.events) {
    // stderr going away is no reason to abandon the call.
    (void)writeAll(STDERR_FILENO, toJsonText(event) + "\n");
  } else if (const ValueMap* map = event.getIf<ValueMap>(); map && display_) {
    display_->show(*map);
  }
}

void CallSession::onAnswer(const std::vector<uint8_t>& reply) {
  if (display_) display_->clear();
  if (reply.empty()) fail("not implemented: " + options_.method, kExitNotImplemented);
  const TextSink toStdout = [](std::string_view piece) { return writeAll(STDOUT_FILENO, piece); };
  Decoded<bool> written = writeSuccessAsJson(reply, "", toStdout);
  if (!written) {
    Decoded<Envelope> envelope = decodeEnvelope(reply);
    if (!envelope)
      fail("undecodable answer to " + options_.method + ": " + envelope.error, kExitFailure);
    if (!envelope.value->success) {
      fail(options_.method + " failed: " + envelope.value->code + ": " + envelope.value->message,
           kExitFailure);
    }
    fail("undecodable answer to " + options_.method + ": " + written.error, kExitFailure);
  }
  if (!*written.value || !writeAll(STDOUT_FILENO, "\n")) {
    fail(std::string("cannot write the answer: ") + std::strerror(errno), kExitFailure);
  }
  window_.close(kExitSuccess);
}

void CallSession::fail(const std::string& complaint, int status) {
  closeWithComplaint(window_, complaint, status);
}

}  // namespace nimbra
