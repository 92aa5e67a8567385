#include "base/fd_io.h"

#include <unistd.h>

#include <cerrno>

namespace nimbra {

ByteSource descriptorSource(int fd) {
  return [fd](uint8_t* buffer, size_t capacity) -> ssize_t {
    while (true) {
      const ssize_t got = ::read(fd, buffer, capacity);
      if (got >= 0 || errno != EINTR) return got;
    }
  };
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(wrote));
  }
  return true;
}

}  // namespace nimbra
