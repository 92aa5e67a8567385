#pragma once

// The framing of `nimbra serve`: a 4-byte little-endian length N (1 <= N <= 64 MiB) followed
// by N bytes holding the standard message codec encoding of [kind, id, channel, message],
// where message is a byte array or null.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "channel/standard_codec.h"
#include "channel/value.h"
#include "host/serve/buffered_input.h"

namespace nimbra {

inline constexpr size_t kFrameHeaderSize = 4;
inline constexpr size_t kMaxFrameBodySize = size_t{64} << 20;

enum class FrameKind : int64_t {
  // A message that wants exactly one answer, a kind-1 frame with the same id.
  request = 0,
  // The answer to the other side's request with that id; no message (null or empty) means
  // "not implemented".
  answer = 1,
  // A message that wants no answer; events travel this way.
  notice = 2,
};

struct Frame {
  FrameKind kind = FrameKind::notice;
  int64_t id = 0;
  std::string channel;
  // Absent when the frame carried null.
  std::optional<Bytes> message;
  friend bool operator==(const Frame&, const Frame&) = default;
};

// The whole frame, length prefix included.
std::vector<uint8_t> encodeFrame(const Frame& frame);
// The same up to the message's bytes, which complete the frame as they are: a large answer is
// sent without being copied into a frame.
std::vector<uint8_t> encodeFrameHead(const Frame& frame);

// Decodes the N bytes after the length prefix. Anything but a four-element list of a known
// kind, an integer id, a string channel and a byte array or null is an error.
Decoded<Frame> decodeFrameBody(std::span<const uint8_t> body);

// Reads frames one at a time from a byte source.
class FrameReader {
 public:
  struct Outcome {
    enum class Status { frame, endOfInput, malformed } status = Status::endOfInput;
    Frame frame;        // status frame
    std::string error;  // status malformed: what was wrong, for the client's eyes
  };

  explicit FrameReader(ByteSource source) : input_(std::move(source)) {}

  // Blocks until a whole frame has arrived, the input has ended between two frames, or the
  // input turned out to be malformed (including an input that ends inside a frame and a
  // read that fails). After a malformed frame nothing more can be read.
  Outcome next();

 private:
  BufferedInput input_;
  bool broken_ = false;
};

}  // namespace nimbra
