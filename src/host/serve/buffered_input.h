#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/fd_io.h"

namespace nimbra {

// Reads a byte source in large pieces so that small frames and short lines do not each cost
// a system call, while big payloads go straight into their destination.
class BufferedInput {
 public:
  enum class Status {
    ok,
    end,      // the input ended before the request was met
    failed,   // the source reported an error; errno-style code in lastError()
    tooLong,  // readLine only: no newline within the limit
  };

  explicit BufferedInput(ByteSource source, size_t bufferSize = kDefaultBufferSize);

  // Appends exactly `count` bytes to `out`. On `end`, `out` holds what did arrive. Storage
  // grows with the bytes that actually arrive, so a length announced by hostile input never
  // allocates far ahead of the data.
  Status readExact(size_t count, std::vector<uint8_t>& out);

  // Reads one line into `line` without its '\n'. A last line without a newline is still a
  // line (ok); `end` means no byte was left at all. Lines longer than `maxLength` bytes are
  // `tooLong`: the rest of such a line is read and dropped, so the next call reads the line
  // after it, and `line` is left empty.
  Status readLine(std::string& line, size_t maxLength);

  // Whether the input ended exactly here: no buffered byte left and the source is at its end.
  // Blocks until that is known.
  bool atEnd();

  int lastError() const { return lastError_; }

  static constexpr size_t kDefaultBufferSize = size_t{64} << 10;

 private:
  // Refills the empty buffer; false at the end of input or on failure.
  bool refill();
  // Drops bytes up to and including the next newline, or to the end of the input.
  void skipRestOfLine();

  ByteSource source_;
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool sourceEnded_ = false;
  int lastError_ = 0;
};

}  // namespace nimbra
