#pragma once

#include <string>
#include <string_view>

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

// `path` with the home folder at its front shown as "~" ("/home/al/x" gives "~/x"), only where
// a whole path component follows it: with a home of "/home/al", "/home/alice/x" is shown as it
// is. An empty home stands for no folder.
std::string withHomeAsTilde(const std::string& path, std::string_view home);

// A path holding a NUL byte names no file. The kernel reads a path only up to its first NUL,
// so "dir/a\0/.." would reach it as "dir/a" while every check made on the whole text (the
// ".." refusal, the split into parent and name) saw something else. Every operation that
// hands a caller's path to the kernel asks this first and treats such a path as missing.
bool namesNoFile(std::string_view path);

}  // namespace nimbra
