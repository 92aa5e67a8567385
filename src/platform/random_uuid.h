#pragma once

#include <string>

namespace nimbra {

// A fresh random UUID in its standard text form (RFC 4122 version 4, upper-case hex):
// 8-4-4-4-12 digits, 36 characters.
std::string randomUuidString();

}  // namespace nimbra
