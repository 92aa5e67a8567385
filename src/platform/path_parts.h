#pragma once

#include <string>

namespace nimbra {

// A path cut before its last component, for the *at calls that act on the component itself
// rather than on what it points to. Trailing slashes are dropped first, so "dir/link/" names
// the link. `name` is empty for the root folder (and for ""); it may be "." or "..", which
// the callers refuse to remove.
struct PathParts {
  std::string parent;  // "/" for a top-level item, "." for a bare relative name
  std::string name;
};

PathParts splitLastComponent(const std::string& path);

// `path` without its trailing slashes ("/" stays "/").
std::string withoutTrailingSlashes(const std::string& path);

}  // namespace nimbra
