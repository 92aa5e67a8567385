#pragma once

// The standard codec's type bytes and size markers, shared by its writer and its reader.

#include <cstdint>

namespace nimbra::codec {

enum Type : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,
  kFloat64 = 6,
  kString = 7,
  kUint8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

inline constexpr uint8_t kSize16 = 254;  // size follows as uint16
inline constexpr uint8_t kSize32 = 255;  // size follows as uint32

}  // namespace nimbra::codec
