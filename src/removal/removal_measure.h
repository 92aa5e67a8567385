#pragma once

#include <cstdint>
#include <string>

namespace nimbra {

// Logical bytes at `path`, counted exactly as the size measurement counts them (regular files'
// lengths; links count 0 and are never followed; a hard-linked file once per path), but never
// cut short by a cancellation. Deletion reports the bytes it really freed as the difference of
// two measurements, so after a "cancel" those must still be whole: a partial measurement of
// what remains would count bytes still on disk as freed.
int64_t uncancelledSizeOf(const std::string& path);

}  // namespace nimbra
