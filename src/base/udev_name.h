#pragma once

#include <string>

namespace nimbra {

// A name as udev writes it into /dev/disk/by-label: bytes that are not safe in a file name
// appear as \xNN ("My\x20Disk"). Answers the original text; other backslashes stay as they are.
std::string decodeUdevName(const std::string& name);

}  // namespace nimbra
