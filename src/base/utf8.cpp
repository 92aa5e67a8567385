#include "base/utf8.h"

#include <cstdint>
#include <cstring>

namespace nimbra {
namespace {

// One step over UTF-8 text (Unicode's table of well-formed byte sequences). When the sequence
// at `p` is ill-formed, `length` is its maximal subpart.
struct Utf8Step {
  bool valid;
  size_t length;
};

Utf8Step utf8Step(const uint8_t* p, size_t n) {
  const uint8_t lead = p[0];
  if (lead < 0x80) return {true, 1};
  size_t trailing;
  // The bounds of the first continuation byte exclude overlong forms, surrogates (ED A0..BF)
  // and code points above U+10FFFF (F4 90..BF) in one comparison.
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailing = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailing = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {false, 1};
  }
  for (size_t i = 1; i <= trailing; ++i) {
    if (i >= n || p[i] < low || p[i] > high) return {false, i};
    low = 0x80;
    high = 0xBF;
  }
  return {true, trailing + 1};
}

}  // namespace

size_t firstInvalidUtf8(std::string_view text) {
  // Runs of ASCII, the common case for paths and keys, are checked eight bytes at a time.
  constexpr uint64_t kHighBits = 0x8080808080808080ULL;
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    if (n - i >= 8) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      if ((word & kHighBits) == 0) {
        i += 8;
        continue;
      }
    }
    const Utf8Step step = utf8Step(p + i, n - i);
    if (!step.valid) return i;
    i += step.length;
  }
  return n;
}

bool isValidUtf8(std::string_view text) { return firstInvalidUtf8(text) == text.size(); }

std::string replaceInvalidUtf8(std::string_view text) {
  static constexpr char kReplacement[] = "\xEF\xBF\xBD";
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  size_t i = firstInvalidUtf8(text);
  std::string out;
  out.reserve(n + n / 2);
  out.append(text.data(), i);
  while (i < n) {
    const Utf8Step step = utf8Step(p + i, n - i);
    if (step.valid) {
      out.append(text.data() + i, step.length);
    } else {
      out.append(kReplacement, 3);
    }
    i += step.length;
  }
  return out;
}

}  // namespace nimbra
