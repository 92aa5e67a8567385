#pragma once

#include <cstdint>
#include <string>

#include "ops/operation_context.h"
#include "platform/fs/dir_walker.h"

namespace nimbra {

// "sizeOf": the logical bytes at `path`, as measureSize counts them (links count 0 and are never
// followed, a path that names no file measures 0). Every byte count of the operations comes
// from here. Any queue; blocks for the walk; cancellation is polled before every entry, and a
// cancelled measurement answers the partial total. The folders it could not read are added to
// `unreadable` when one is given. The method answers {"size": bytes, "unreadable",
// "unreadableFolders"} (see unreadable_answer.h).
int64_t sizeOf(OperationContext& context, const std::string& path,
               UnreadableFolders* unreadable = nullptr);

}  // namespace nimbra
