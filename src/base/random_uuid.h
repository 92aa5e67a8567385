#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nimbra {

// Fills `size` bytes from the kernel's generator (getrandom). False when it cannot.
bool kernelRandomBytes(uint8_t* bytes, size_t size);

// A fresh random UUID in its standard text form (RFC 4122 version 4, upper-case hex):
// 8-4-4-4-12 digits, 36 characters.
std::string randomUuidString();

}  // namespace nimbra
