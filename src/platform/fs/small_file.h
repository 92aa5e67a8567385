#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace nimbra {

// The whole content of a small regular file (information files, icons). Nullopt when `path`
// names no file, is not a regular file, cannot be read, or holds more than `maxBytes`. It is
// opened without blocking, so a FIFO planted where a file is expected never stalls a scan.
std::optional<std::string> readSmallFile(const std::string& path, size_t maxBytes);

// The same for the entry `name` of the folder open as `folderFd`, never through a link there.
std::optional<std::string> readSmallFileAt(int folderFd, const std::string& name, size_t maxBytes);

}  // namespace nimbra
