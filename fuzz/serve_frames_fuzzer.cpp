// Feeds arbitrary bytes to the `nimbra serve` frame reader in pieces of varying size: it must
// end every input with frames, the end of input or a malformed verdict, never a crash, hang
// or over-read; and every frame it accepts must encode back to a frame that reads the same.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host/serve/serve_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses how the input is cut into reads.
  const size_t piece = size_t{data[0]} * 37 + 1;
  const uint8_t* input = data + 1;
  const size_t length = size - 1;
  size_t offset = 0;
  nimbra::FrameReader reader([&](uint8_t* buffer, size_t capacity) -> ssize_t {
    const size_t take = std::min({capacity, piece, length - offset});
    std::memcpy(buffer, input + offset, take);
    offset += take;
    return static_cast<ssize_t>(take);
  });

  while (true) {
    nimbra::FrameReader::Outcome outcome = reader.next();
    if (outcome.status != nimbra::FrameReader::Outcome::Status::frame) {
      if (outcome.status == nimbra::FrameReader::Outcome::Status::malformed && outcome.error.empty()) {
        std::abort();
      }
      return 0;
    }
    const std::vector<uint8_t> again = nimbra::encodeFrame(outcome.frame);
    nimbra::Decoded<nimbra::Frame> decoded =
        nimbra::decodeFrameBody(std::span(again).subspan(nimbra::kFrameHeaderSize));
    if (!decoded || !(*decoded.value == outcome.frame)) std::abort();
  }
}
