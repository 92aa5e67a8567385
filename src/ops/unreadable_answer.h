#pragma once

#include "channel/value.h"
#include "platform/fs/dir_walker.h"

namespace nimbra {

// What an answer that walks says of the folders it could not read, so that no figure passes
// for the whole truth: "unreadable", how many, and "unreadableFolders", the first few of them
// that can be named, as [{"path", "error": the system's own words}].
void addUnreadable(ValueMap& answer, const UnreadableFolders& folders);

}  // namespace nimbra
