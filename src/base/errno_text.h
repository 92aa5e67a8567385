#pragma once

#include <string>

namespace nimbra {

// The platform's own description of an errno value ("Permission denied"), safe to call from
// any thread.
std::string errnoText(int code);

// "PATH: description", the way the service reports a failed call on a path.
std::string pathErrorText(const std::string& path, int code);

}  // namespace nimbra
