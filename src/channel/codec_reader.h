#pragma once

// Reads standard message codec bytes one token at a time, with every check the decoder makes
// (each size against the bytes that remain, UTF-8, nesting), without building values. The
// decoder builds Values from the tokens; the host program's front ends turn them straight
// into JSON text. Tokens are read in a loop, never by recursion, so depth costs no stack.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nimbra {

// Lists and maps nested deeper than this are rejected. Deep enough for the deepest answer the
// service gives (a disk usage tree at kMaxDiskTreeDepth levels nests 2 x 2048 + 2 deep) and a
// client's wrapping around it; it bounds what hostile input can make the reader keep.
inline constexpr int kMaxNestingDepth = 4608;

struct CodecToken {
  enum class Kind {
    null,
    boolean,
    integer,  // int32 and int64 alike
    float64,
    string,     // also a "large int" (type 5), which Flutter's decoders read as text
    typedList,  // `type` 8, 9, 10, 11 or 14; `elements` holds the aligned element bytes
    list,       // `count` elements follow, then an `end`
    map,        // `count` key and value pairs follow, then an `end`
    end,
  };
  Kind kind = Kind::null;
  size_t offset = 0;  // of the type byte
  bool boolean = false;
  int64_t integer = 0;
  double float64 = 0;
  std::string_view text;
  uint8_t type = 0;
  std::span<const uint8_t> elements;
  size_t count = 0;
};

class CodecReader {
 public:
  explicit CodecReader(std::span<const uint8_t> in) : in_(in) {}

  // The next token. False once anything is wrong; error() says what (the first error only).
  bool next(CodecToken& token);
  // Lists and maps opened and not yet ended: a value is complete when this is 0 again.
  size_t depth() const { return open_.size(); }

  // A raw byte outside any value (the envelope's kind).
  bool byte(uint8_t& b);
  bool atEnd() const { return pos_ == in_.size(); }
  // Records "N trailing bytes" as the error; answers false.
  bool failTrailing();
  bool fail(std::string why);
  const std::string& error() const { return error_; }

 private:
  bool failTruncated(size_t needed);
  size_t remaining() const { return in_.size() - pos_; }
  bool fits(uint64_t count, uint64_t width, size_t sizeOffset);
  template <class T>
  bool scalar(T& out);
  bool size(size_t& out);
  bool align(size_t alignment);
  bool typedList(CodecToken& token, size_t width);

  std::span<const uint8_t> in_;
  size_t pos_ = 0;
  // Elements each open list or map still promises, innermost last.
  std::vector<size_t> open_;
  // Their sum. Each needs at least one byte after the current value, so a size is accepted
  // only if it fits in what remains after those: a forged size fails before anything is
  // allocated, and nested forged sizes cannot claim the same bytes twice.
  size_t pending_ = 0;
  std::string error_;
};

}  // namespace nimbra
