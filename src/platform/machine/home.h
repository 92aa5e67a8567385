#pragma once

#include <string>

namespace nimbra {

// The current user's home folder: $HOME when set and not empty, else the password database;
// no trailing slash is added or removed.
std::string homeDirectory();

// The first field of the user's GECOS entry, else the login name; "" when the password database
// has no entry for the user.
std::string fullUserName();

// The user's folder for state kept between runs (the XDG base directory rules):
// $XDG_STATE_HOME when it is an absolute path, else ~/.local/state. Without trailing slashes.
std::string stateDirectory();

// The per-user temporary folder: $TMPDIR with exactly one trailing "/" ensured, else "/tmp/".
std::string temporaryDirectory();

}  // namespace nimbra
