#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nimbra {

// Whether `text` is well-formed UTF-8: no overlong forms, no surrogates, nothing above
// U+10FFFF, no truncated sequence. Paths on Linux are bytes; a result may only carry paths
// that pass this test (the others still count in totals).
bool isValidUtf8(std::string_view text);

// Offset of the first ill-formed sequence in `text`, or text.size() when it is well formed.
size_t firstInvalidUtf8(std::string_view text);

// `text` with each ill-formed sequence (its maximal subpart, as Unicode recommends and as
// browsers and Python do) replaced by one U+FFFD.
std::string replaceInvalidUtf8(std::string_view text);

}  // namespace nimbra
