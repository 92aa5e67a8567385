#pragma once

// Listing one folder: every name but "." and "..", in the file system's listing order, with
// the entry's type when the listing tells it. The walker reads its records with the same
// reader; everything else that lists a folder uses listFolder.
//
// Blocking (getdents64); no shared state.

#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
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
inline DirentRecord readDirentRecord(const char* record) {
  DirentRecord head{};
  std::memcpy(&head.length, record + offsetof(struct dirent64, d_reclen), sizeof head.length);
  std::memcpy(&head.type, record + offsetof(struct dirent64, d_type), sizeof head.type);
  head.name = record + offsetof(struct dirent64, d_name);
  return head;
}

// Whether a record names "." or "..", told without measuring the name: walks ask this of every
// entry, most of them more than once.
inline bool isDotName(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

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
