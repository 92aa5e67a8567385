#include <cstdint>
#include <string>

#include "service/nimbra_native.h"
#include "platform/fs/size_measure.h"

namespace nimbra {

// Every byte count of the service comes from here; cancellation is polled before every entry.
int64_t NimbraNative::sizeOf(const std::string& path) {
  return measureSize(path, [this] { return isCancelled(); });
}

}  // namespace nimbra
