#pragma once

#include <string>

namespace nimbra {

// `path` as the path of a file URL: every byte but the unreserved ones (A-Z a-z 0-9 - . _ ~)
// and "/" percent-encoded, so spaces, quotes, "#", "?", "%" and non-ASCII names survive.
std::string percentEncodedPath(const std::string& path);

}  // namespace nimbra
