#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/fs/dir_walker.h"

namespace nimbra {

// Logical bytes at `path`: lengths of regular files, hidden entries and package contents
// included, links never followed (not even at `path` itself, whatever trailing slashes it
// carries) and never counted, a hard-linked file counted once for every path that reaches it,
// files of kernel pseudo file systems counted 0. A path that names no file measures 0.
// `cancelled` is asked before every entry; once it answers true the partial total is answered.
// The sum wraps instead of overflowing: it is not clamped, and no real tree reaches 2^63.
// The folders it could not read are added to `unreadable` when one is given.
int64_t measureSize(const std::string& path, const std::function<bool()>& cancelled,
                    UnreadableFolders* unreadable = nullptr);

}  // namespace nimbra
