#include "channel/codec_reader.h"

#include <bit>
#include <cstring>

#include "base/utf8.h"
#include "channel/codec_types.h"

namespace nimbra {

// Numbers are copied in host order, which is the wire order on every machine we build for.
static_assert(std::endian::native == std::endian::little);

bool CodecReader::fail(std::string why) {
  if (error_.empty()) error_ = std::move(why);
  return false;
}

bool CodecReader::failTrailing() {
  return fail(std::to_string(in_.size() - pos_) + " trailing bytes after offset " +
              std::to_string(pos_));
}

bool CodecReader::failTruncated(size_t needed) {
  return fail("truncated: " + std::to_string(needed) + " more bytes needed at offset " +
              std::to_string(pos_) + ", " + std::to_string(remaining()) + " remain");
}

bool CodecReader::byte(uint8_t& b) {
  if (!error_.empty()) return false;
  if (pos_ >= in_.size()) return failTruncated(1);
  b = in_[pos_++];
  return true;
}

// 64-bit arithmetic: count < 2^32 and width <= 8 cannot overflow.
bool CodecReader::fits(uint64_t count, uint64_t width, size_t sizeOffset) {
  if (count * width + pending_ <= remaining()) return true;
  return fail("size " + std::to_string(count) + " at offset " + std::to_string(sizeOffset) +
              " exceeds the " + std::to_string(remaining()) + " bytes that remain");
}

template <class T>
bool CodecReader::scalar(T& out) {
  if (remaining() < sizeof(T)) return failTruncated(sizeof(T));
  std::memcpy(&out, in_.data() + pos_, sizeof(T));
  pos_ += sizeof(T);
  return true;
}

// Non-minimal size encodings are accepted, as Flutter does.
bool CodecReader::size(size_t& out) {
  uint8_t first = 0;
  if (!byte(first)) return false;
  if (first < codec::kSize16) {
    out = first;
  } else if (first == codec::kSize16) {
    uint16_t n = 0;
    if (!scalar(n)) return false;
    out = n;
  } else {
    uint32_t n = 0;
    if (!scalar(n)) return false;
    out = n;
  }
  return true;
}

// Alignment is measured from the start of the message; padding bytes are skipped unread.
bool CodecReader::align(size_t alignment) {
  const size_t misalignment = pos_ % alignment;
  if (misalignment == 0) return true;
  const size_t padding = alignment - misalignment;
  if (remaining() < padding) return failTruncated(padding);
  pos_ += padding;
  return true;
}

bool CodecReader::typedList(CodecToken& token, size_t width) {
  const size_t start = pos_;
  size_t n = 0;
  if (!size(n)) return false;
  if (width > 1 && !align(width)) return false;
  if (!fits(n, width, start)) return false;
  token.kind = CodecToken::Kind::typedList;
  token.count = n;
  token.elements = in_.subspan(pos_, n * width);
  pos_ += n * width;
  return true;
}

bool CodecReader::next(CodecToken& token) {
  using Kind = CodecToken::Kind;
  if (!error_.empty()) return false;
  if (!open_.empty()) {
    if (open_.back() == 0) {
      open_.pop_back();
      token.kind = Kind::end;
      token.offset = pos_;
      return true;
    }
    --open_.back();
    --pending_;
  }
  token.offset = pos_;
  uint8_t type = 0;
  if (!byte(type)) return false;
  token.type = type;
  switch (type) {
    case codec::kNull: token.kind = Kind::null; return true;
    case codec::kTrue:
    case codec::kFalse:
      token.kind = Kind::boolean;
      token.boolean = type == codec::kTrue;
      return true;
    case codec::kInt32: {
      int32_t i = 0;
      if (!scalar(i)) return false;
      token.kind = Kind::integer;
      token.integer = i;
      return true;
    }
    case codec::kInt64: token.kind = Kind::integer; return scalar(token.integer);
    case codec::kFloat64: token.kind = Kind::float64; return align(8) && scalar(token.float64);
    case codec::kLargeInt:
    case codec::kString: {
      const size_t start = pos_;
      size_t n = 0;
      if (!size(n) || !fits(n, 1, start)) return false;
      token.kind = Kind::string;
      token.text = std::string_view(reinterpret_cast<const char*>(in_.data() + pos_), n);
      if (!isValidUtf8(token.text)) {
        return fail("invalid UTF-8 in the string at offset " + std::to_string(start));
      }
      pos_ += n;
      return true;
    }
    case codec::kUint8List: return typedList(token, 1);
    case codec::kInt32List: return typedList(token, 4);
    case codec::kInt64List:
    case codec::kFloat64List: return typedList(token, 8);
    case codec::kFloat32List: return typedList(token, 4);
    case codec::kList:
    case codec::kMap: {
      if (open_.size() >= static_cast<size_t>(kMaxNestingDepth)) {
        return fail("lists and maps nested deeper than " + std::to_string(kMaxNestingDepth) +
                    " at offset " + std::to_string(token.offset));
      }
      const size_t start = pos_;
      const size_t perEntry = type == codec::kList ? 1 : 2;
      size_t n = 0;
      if (!size(n) || !fits(n, perEntry, start)) return false;
      token.kind = type == codec::kList ? Kind::list : Kind::map;
      token.count = n;
      open_.push_back(n * perEntry);
      pending_ += n * perEntry;
      return true;
    }
    default:
      return fail("unknown type byte " + std::to_string(type) + " at offset " +
                  std::to_string(token.offset));
  }
}

}  // namespace nimbra
