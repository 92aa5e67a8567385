#pragma once

#include <string>
#include <string_view>

namespace nimbra {

// The leading dot-separated numbers of a kernel release, at most three, missing ones 0:
// "6.1.0-18-amd64" gives "6.1.0", "5.15-rc1" gives "5.15.0".
std::string osVersionFromRelease(std::string_view release);

// The first "model name" of a /proc/cpuinfo text; "" when there is none.
std::string cpuBrandFromCpuinfo(std::string_view cpuinfo);

}  // namespace nimbra
