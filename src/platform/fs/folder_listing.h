#pragma once

// Listing one folder: every name but "." and "..", in the file system's listing order, with
// the entry's type when the listing tells it. The walker reads its records with the same
// reader; everything else that lists a folder uses listFolder.
//
// Blocking (getdents64); no shared state.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbra {

// The fixed head of one getdents64 record, read with memcpy: a getdents64 buffer is no array
// of dirent64 objects, so no record is accessed through a misaligned or type-punned pointer.
struct DirentRecord {
  uint16_t length;     // bytes to the next record
  unsigned char type;  // DT_DIR, DT_REG, DT_LNK ..., DT_UNKNOWN when the file system does not say
  const char* name;    // NUL-terminated, inside the buffer
};
DirentRecord readDirentRecord(const char* record);

struct FolderEntry {
  std::string name;
  unsigned char type;  // as in DirentRecord
};

// The whole listing of the folder open as `fd`, read before the caller changes anything in it
// (removing entries while a folder is being read can make some file systems skip entries).
// Nullopt when the listing fails.
std::optional<std::vector<FolderEntry>> listFolder(int fd);

enum class LinkAtPath { follow, refuse };
// The listing of the folder at `path`; with LinkAtPath::refuse a link there (to a folder or
// not) is not listed. Nullopt when it cannot be opened as a folder or read. A path that names
// no file (see namesNoFile) cannot be listed.
std::optional<std::vector<FolderEntry>> listFolder(const std::string& path, LinkAtPath link);

}  // namespace nimbra
