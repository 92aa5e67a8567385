#include "ops/size/size_of.h"

#include "platform/fs/size_measure.h"

namespace nimbra {

int64_t sizeOf(OperationContext& context, const std::string& path, UnreadableFolders* unreadable) {
  return measureSize(
      path, [&context] { return context.isCancelled(); }, unreadable);
}

}  // namespace nimbra
