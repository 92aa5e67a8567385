#pragma once

// A directory's place in a walk: the index of each entry in its directory's listing, from the
// root down ({} is the root, {3, 0} the first entry of the root's fourth). Keys sort in the
// order a walk visits the directories (pre-order), and the keys below a directory are the ones
// that begin with its own.
//
// Kept as bytes: each index in a variable-length form whose bytes sort as the numbers do, and
// of which no form begins another. So keys compare with one memcmp, a directory's descendants
// are the keys it is a byte prefix of, and a key a few levels deep with small indexes fits the
// string's own buffer: making a child key, which the walk does for every directory it enters,
// allocates nothing.

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>

namespace nimbra {

class DirKey {
 public:
  DirKey() = default;

  // The key of the `index`-th entry of this directory.
  DirKey child(uint32_t index) const {
    DirKey key;
    const size_t length = index < 0x80         ? 1
                          : index < 0x4000     ? 2
                          : index < 0x200000   ? 3
                          : index < 0x10000000 ? 4
                                               : 5;
    key.bytes_.reserve(bytes_.size() + length);
    key.bytes_ = bytes_;
    key.depth_ = depth_ + 1;
    // The first byte tells the length: 0xxxxxxx for one byte, 10xxxxxx for two, 110xxxxx for
    // three, 1110xxxx for four, 0xF0 and four more bytes for the rest; big-endian after it.
    constexpr unsigned kMarks[] = {0, 0x80, 0xC0, 0xE0};
    if (length == 5) {
      key.bytes_.push_back(static_cast<char>(0xF0));
      key.append(index, 0, 4);
    } else {
      key.append(index, kMarks[length - 1], static_cast<int>(length));
    }
    return key;
  }

  // How many levels below the root: 0 for the root.
  uint32_t depth() const { return depth_; }

  // Whether this is `ancestor` or lies below it.
  bool isAtOrBelow(const DirKey& ancestor) const { return bytes_.starts_with(ancestor.bytes_); }

  void clear() {
    bytes_.clear();
    depth_ = 0;
  }

  friend bool operator==(const DirKey& a, const DirKey& b) { return a.bytes_ == b.bytes_; }
  // Byte order, which is the order of the indexes level by level. Compared here, byte by byte:
  // keys are a few bytes long, and the maps of keys compare them on every step, where a call
  // to memcmp cost more than the comparing.
  friend std::strong_ordering operator<=>(const DirKey& a, const DirKey& b) {
    const size_t common = std::min(a.bytes_.size(), b.bytes_.size());
    for (size_t i = 0; i < common; ++i) {
      const auto x = static_cast<unsigned char>(a.bytes_[i]);
      const auto y = static_cast<unsigned char>(b.bytes_[i]);
      if (x != y) return x <=> y;
    }
    return a.bytes_.size() <=> b.bytes_.size();
  }

 private:
  // `value` as `length` big-endian bytes, the first of them or-ed with `mark`.
  void append(uint32_t value, unsigned mark, int length) {
    for (int shift = 8 * (length - 1); shift >= 0; shift -= 8) {
      const unsigned byte = (value >> shift) & 0xFF;
      bytes_.push_back(static_cast<char>(shift == 8 * (length - 1) ? byte | mark : byte));
    }
  }

  std::string bytes_;
  uint32_t depth_ = 0;
};

}  // namespace nimbra
