#pragma once

#include <string>

namespace nimbra {

// Trims spaces, tabs and line ends (\n, \r, \v, \f) at both ends.
std::string trimWhiteSpace(std::string text);

}  // namespace nimbra
