#pragma once

// Hashing a file's bytes straight from the page cache through a read-only mapping.
//
// Reading into a buffer copies every byte once more than hashing needs: on this machine a
// warm 1 GiB file hashes in 0.92 s through read() in 1 MiB pieces and in 0.82 s through a
// mapping, against 0.75 s for hashing bytes already in the CPU cache. So large ranges are
// mapped, a window at a time, and fed to SHA-256 in 1 MiB pieces.
//
// A mapped file that shrinks while it is hashed would raise SIGBUS on the vanished pages.
// That fault is caught for the window being hashed (and only for it: any other SIGBUS goes
// to the handler that was installed before) and reported as an unreadable file.

#include <cstdint>

#include "platform/sha256.h"

namespace nimbra {

enum class MappedFeed {
  done,         // every byte of the range went into the hasher
  unavailable,  // the file cannot be mapped; nothing was fed, read it instead
  faulted,      // the file shrank under the mapping; the hasher holds a partial state
};

// Feeds bytes [offset, offset + length) of the open file `fd` to `hasher`. The caller knows
// from fstat that the range lies inside the file. Safe on any thread; it installs a
// process-wide SIGBUS handler once, which hands every fault it does not own on.
MappedFeed feedMappedRange(int fd, int64_t offset, int64_t length, Sha256& hasher);

}  // namespace nimbra
