#pragma once

// Plain descriptor input and output. The front ends talk to their client through file
// descriptors rather than iostreams: a frame or a JSON line must leave in one piece, and stdio
// buffering would let a line sit in a buffer when the process ends with _exit. Files written
// whole (a property list, a Trash record) go out the same way.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace nimbra {

// Where the readers get their bytes: fills up to `capacity` bytes of `buffer` and answers how
// many it read, 0 at the end of input, or -1 with errno set. Blocks until it can answer.
using ByteSource = std::function<ssize_t(uint8_t* buffer, size_t capacity)>;

// Reads from a descriptor, retrying reads that a signal interrupted.
ByteSource descriptorSource(int fd);

// Writes all of `bytes`, across partial writes and interruptions. False when the descriptor
// cannot take them (errno says why); the output is then incomplete.
bool writeAll(int fd, std::string_view bytes);

}  // namespace nimbra
