#include "app/serve_command.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include "app/command_line.h"
#include "app/fd_io.h"

namespace nimbra {

FrameSession::FrameSession(MainFlutterWindow& window, EngineMessenger& engine, MainLoop& loop,
                           int inputFd, int outputFd)
    : window_(window), engine_(engine), loop_(loop), inputFd_(inputFd), outputFd_(outputFd) {}

void FrameSession::start() {
  engine_.setInterfaceReceiver(
      [this](const std::string& channel, std::vector<uint8_t> message, BinaryReply reply) {
        onHostMessage(channel, std::move(message), std::move(reply));
      });
  std::thread([this] { readFrames(); }).detach();
}

void FrameSession::readFrames() {
  FrameReader reader(descriptorSource(inputFd_));
  while (true) {
    FrameReader::Outcome outcome = reader.next();
    switch (outcome.status) {
      case FrameReader::Outcome::Status::frame:
        loop_.post([this, frame = std::move(outcome.frame)]() mutable { onFrame(std::move(frame)); });
        continue;
      case FrameReader::Outcome::Status::endOfInput:
        // Closed through the main loop, after the frames before it, so no frame being written
        // is cut short.
        loop_.post([this] { window_.close(kExitSuccess); });
        return;
      case FrameReader::Outcome::Status::malformed:
        loop_.post([this, error = std::move(outcome.error)] {
          closeWithComplaint(window_, "malformed frame: " + error, kExitFailure);
        });
        return;
    }
  }
}

void FrameSession::onFrame(Frame frame) {
  std::vector<uint8_t> message = std::move(frame.message).value_or(Bytes{});
  switch (frame.kind) {
    case FrameKind::request:
      engine_.deliverFromInterface(
          frame.channel, std::move(message),
          [this, id = frame.id, channel = frame.channel](std::vector<uint8_t> reply) {
            write(Frame{FrameKind::answer, id, channel, std::move(reply)});
          });
      return;
    case FrameKind::notice:
      engine_.deliverFromInterface(frame.channel, std::move(message), nullptr);
      return;
    case FrameKind::answer: {
      auto request = hostRequests_.find(frame.id);
      if (request == hostRequests_.end()) {
        (void)writeAll(STDERR_FILENO, "nimbra: ignored answer frame " + std::to_string(frame.id) +
                                          ": no open request has that id\n");
        return;
      }
      BinaryReply reply = std::move(request->second);
      hostRequests_.erase(request);
      reply(std::move(message));
      return;
    }
  }
}

void FrameSession::onHostMessage(const std::string& channel, std::vector<uint8_t> message,
                                 BinaryReply reply) {
  if (!reply) {
    write(Frame{FrameKind::notice, 0, channel, std::move(message)});
    return;
  }
  const int64_t id = nextHostRequestId_++;
  hostRequests_.emplace(id, std::move(reply));
  write(Frame{FrameKind::request, id, channel, std::move(message)});
}

void FrameSession::write(const Frame& frame) {
  const std::vector<uint8_t> head = encodeFrameHead(frame);
  const auto asText = [](const std::vector<uint8_t>& bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  };
  if (!writeAll(outputFd_, asText(head)) || (frame.message && !writeAll(outputFd_, asText(*frame.message)))) {
    closeWithComplaint(window_, std::string("cannot write to the client: ") + std::strerror(errno),
                       kExitFailure);
  }
}

}  // namespace nimbra
