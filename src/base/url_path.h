#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nimbra {

// `path` as the path of a file URL: every byte but the unreserved ones (A-Z a-z 0-9 - . _ ~)
// and "/" percent-encoded, so spaces, quotes, "#", "?", "%" and non-ASCII names survive.
std::string percentEncodedPath(const std::string& path);

// The bytes a percent-encoded path stands for; nullopt when a "%" is not followed by two hex
// digits, or when the result would hold a NUL byte (which no path can).
std::optional<std::string> percentDecodedPath(std::string_view encoded);

}  // namespace nimbra
