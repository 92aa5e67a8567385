#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nimbra {

// Paths on Linux are bytes; a result may only carry paths that are well-formed UTF-8 (the
// others still count in totals), and the codec never writes anything else. Well-formed means
// Unicode's table of byte sequences: no overlong forms, no surrogates, nothing above U+10FFFF,
// no truncated sequence. Runs of ASCII, the common case for paths and keys, are checked eight
// bytes at a time.
bool isValidUtf8(std::string_view text);

// Offset of the first ill-formed sequence, or text.size() when there is none.
size_t firstInvalidUtf8(std::string_view text);

// `text` with each maximal ill-formed subpart replaced by one U+FFFD, as Unicode recommends
// (and browsers and Python do).
std::string withInvalidUtf8Replaced(std::string_view text);

}  // namespace nimbra
