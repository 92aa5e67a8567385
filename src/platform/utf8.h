#pragma once

#include <string_view>

namespace nimbra {

// Whether `text` is well-formed UTF-8: no overlong forms, no surrogates, nothing above
// U+10FFFF, no truncated sequence. Paths on Linux are bytes; a result may only carry paths
// that pass this test (the others still count in totals).
bool isValidUtf8(std::string_view text);

}  // namespace nimbra
