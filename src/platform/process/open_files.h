#pragma once

// What the running programs are using: every file a process holds open, its working folder,
// its program and the files it has mapped (its libraries), by identity (device and inode), from
// /proc. A process this user may not look at (another user's, for anyone but root) tells
// nothing; this process itself is left out.
//
// Blocking (one pass over /proc); no shared state.

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string_view>
#include <unordered_set>

namespace nimbra {

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

struct FileIdentityHash {
  size_t operator()(const FileIdentity& id) const {
    return std::hash<ino_t>()(id.inode) * 31 + std::hash<dev_t>()(id.device);
  }
};

using FileIdentities = std::unordered_set<FileIdentity, FileIdentityHash>;

FileIdentities filesInUse();

// The mapped files of one /proc/PID/maps text (anonymous mappings have inode 0 and are left out).
void addMappedFiles(std::string_view maps, FileIdentities& into);

}  // namespace nimbra
