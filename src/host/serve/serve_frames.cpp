#include "host/serve/serve_frames.h"

#include <cstring>

namespace nimbra {
namespace {

std::string inputFailure(int error) {
  return std::string("cannot read input: ") + std::strerror(error);
}

}  // namespace

std::vector<uint8_t> encodeFrameHead(const Frame& frame) {
  // The fields before the message are encoded with a null in its place; the null then gives
  // way to the byte array's header, and the message's bytes come after the head unchanged.
  ValueList fields{Value(static_cast<int64_t>(frame.kind)), Value(frame.id), Value(frame.channel),
                   Value()};
  const std::vector<uint8_t> fieldBytes = encodeMessage(Value(std::move(fields)));
  std::vector<uint8_t> head;
  head.reserve(kFrameHeaderSize + fieldBytes.size() + 5);
  head.resize(kFrameHeaderSize);
  head.insert(head.end(), fieldBytes.begin(), fieldBytes.end());
  size_t messageSize = 0;
  if (frame.message) {
    messageSize = frame.message->size();
    head.pop_back();
    appendByteArrayHeader(head, messageSize);
  }
  const auto length = static_cast<uint32_t>(head.size() - kFrameHeaderSize + messageSize);
  for (size_t i = 0; i < kFrameHeaderSize; ++i) head[i] = static_cast<uint8_t>(length >> (8 * i));
  return head;
}

std::vector<uint8_t> encodeFrame(const Frame& frame) {
  std::vector<uint8_t> out = encodeFrameHead(frame);
  if (frame.message) out.insert(out.end(), frame.message->begin(), frame.message->end());
  return out;
}

Decoded<Frame> decodeFrameBody(std::span<const uint8_t> body) {
  Decoded<Frame> result;
  Decoded<Value> decoded = decodeMessage(body);
  if (!decoded) {
    result.error = "frame body is not a standard codec message: " + decoded.error;
    return result;
  }
  const ValueList* fields = decoded.value->getIf<ValueList>();
  if (!fields || fields->size() != 4) {
    result.error = "frame body is not a list of [kind, id, channel, message]";
    return result;
  }
  const std::optional<int64_t> kind = intValue((*fields)[0]);
  if (!kind || *kind < static_cast<int64_t>(FrameKind::request) ||
      *kind > static_cast<int64_t>(FrameKind::notice)) {
    result.error = "frame kind must be 0, 1 or 2";
    return result;
  }
  const std::optional<int64_t> id = intValue((*fields)[1]);
  if (!id) {
    result.error = "frame id must be an integer";
    return result;
  }
  const std::string* channel = (*fields)[2].getIf<std::string>();
  if (!channel) {
    result.error = "frame channel must be a string";
    return result;
  }
  const Value& message = (*fields)[3];
  const Bytes* bytes = message.getIf<Bytes>();
  if (!bytes && !message.isNull()) {
    result.error = "frame message must be a byte array or null";
    return result;
  }
  Frame frame;
  frame.kind = static_cast<FrameKind>(*kind);
  frame.id = *id;
  frame.channel = *channel;
  if (bytes) frame.message = *bytes;
  result.value = std::move(frame);
  return result;
}

FrameReader::Outcome FrameReader::next() {
  Outcome outcome;
  auto malformed = [&](std::string error) {
    broken_ = true;
    outcome.status = Outcome::Status::malformed;
    outcome.error = std::move(error);
    return outcome;
  };
  if (broken_) return malformed("input is unusable after an earlier malformed frame");
  if (input_.atEnd()) {
    outcome.status = Outcome::Status::endOfInput;
    return outcome;
  }

  std::vector<uint8_t> header;
  BufferedInput::Status status = input_.readExact(kFrameHeaderSize, header);
  if (status == BufferedInput::Status::failed) return malformed(inputFailure(input_.lastError()));
  if (status != BufferedInput::Status::ok) return malformed("input ended inside a frame's length");
  uint32_t length = 0;
  for (size_t i = 0; i < kFrameHeaderSize; ++i) length |= uint32_t{header[i]} << (8 * i);
  if (length == 0) return malformed("frame length is 0");
  if (length > kMaxFrameBodySize) {
    return malformed("frame length " + std::to_string(length) + " exceeds the limit of " +
                     std::to_string(kMaxFrameBodySize) + " bytes");
  }

  std::vector<uint8_t> body;
  status = input_.readExact(length, body);
  if (status == BufferedInput::Status::failed) return malformed(inputFailure(input_.lastError()));
  if (status != BufferedInput::Status::ok) {
    return malformed("input ended inside a frame: " + std::to_string(body.size()) + " of " +
                     std::to_string(length) + " bytes arrived");
  }
  Decoded<Frame> frame = decodeFrameBody(body);
  if (!frame) return malformed(frame.error);
  outcome.status = Outcome::Status::frame;
  outcome.frame = std::move(*frame.value);
  return outcome;
}

}  // namespace nimbra
