#include "host/serve/frame_session.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include "base/fd_io.h"
#include "host/command_line.h"

namespace nimbra {

namespace {

[[noreturn]] void cannotWrite(const MainFlutterWindow& window, int error) {
  closeWithComplaint(window, std::string("cannot write to the client: ") + std::strerror(error),
                     kExitFailure);
}

}  // namespace

FrameSession::FrameSession(MainFlutterWindow& window, EngineMessenger& engine, MainLoop& loop,
                           int inputFd, int outputFd)
    : window_(window),
      engine_(engine),
      loop_(loop),
      inputFd_(inputFd),
      flow_(loop, outputFd, [&window](int error) { cannotWrite(window, error); }) {}

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
    flow_.waitForRoom();
    FrameReader::Outcome outcome = reader.next();
    switch (outcome.status) {
      case FrameReader::Outcome::Status::frame: {
        const size_t size = outcome.frame.message ? outcome.frame.message->size() : 0;
        flow_.itemRead(size);
        loop_.post([this, frame = std::move(outcome.frame), size]() mutable {
          onFrame(std::move(frame), size);
        });
        continue;
      }
      case FrameReader::Outcome::Status::endOfInput:
        // Closed through the main loop, after the frames before it, and once what is queued
        // has gone out, so no frame is cut short.
        loop_.post([this] {
          if (!flow_.drain()) cannotWrite(window_, errno);
          window_.close(kExitSuccess);
        });
        return;
      case FrameReader::Outcome::Status::malformed:
        loop_.post([this, error = std::move(outcome.error)] {
          (void)flow_.drain();
          closeWithComplaint(window_, "malformed frame: " + error, kExitFailure);
        });
        return;
    }
  }
}

void FrameSession::onFrame(Frame frame, size_t size) {
  std::vector<uint8_t> message = std::move(frame.message).value_or(Bytes{});
  switch (frame.kind) {
    case FrameKind::request:
      engine_.deliverFromInterface(
          frame.channel, std::move(message),
          [this, id = frame.id, channel = frame.channel, size](std::vector<uint8_t> reply) {
            write(Frame{FrameKind::answer, id, channel, std::move(reply)});
            flow_.itemDone(size);
          });
      return;
    case FrameKind::notice:
      engine_.deliverFromInterface(frame.channel, std::move(message), nullptr);
      break;
    case FrameKind::answer: {
      auto request = hostRequests_.find(frame.id);
      if (request == hostRequests_.end()) {
        (void)writeAll(STDERR_FILENO, "nimbra: ignored answer frame " + std::to_string(frame.id) +
                                          ": no open request has that id\n");
        break;
      }
      BinaryReply reply = std::move(request->second);
      hostRequests_.erase(request);
      reply(std::move(message));
      break;
    }
  }
  flow_.itemDone(size);
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
  if (!flow_.write(asText(head)) || (frame.message && !flow_.write(asText(*frame.message)))) {
    cannotWrite(window_, errno);
  }
}

}  // namespace nimbra
