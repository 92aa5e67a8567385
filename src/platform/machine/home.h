#pragma once

#include <string>

namespace nimbra {

// The current user's home folder: $HOME when set and not empty, else the password database;
// no trailing slash is added or removed.
std::string homeDirectory();

// The per-user temporary folder: $TMPDIR with exactly one trailing "/" ensured, else "/tmp/".
std::string temporaryDirectory();

}  // namespace nimbra
