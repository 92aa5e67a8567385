#pragma once

// What a property list may hold before libplist is given it. The library builds the whole
// tree at once: its binary reader recurses once per level and copies an object once for every
// reference to it, and it frees a tree recursively. So a file nested 100,000 deep takes the
// stack, and a few hundred bytes of arrays that share their elements ([A1, A1], A1 = [A2, A2],
// ...) expand to billions of nodes. These checks read the bytes as the library will, without
// building anything, in time linear in their length; a file that fails them is unreadable.
//
// Pure functions of the bytes; no state.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nimbra {

// Job files and application information files are a few KiB; the largest information files
// seen on real machines stay below 200 KiB. Anything past this is no such file, and a 63 MB XML
// file once made the parsed tree take 960 MiB.
inline constexpr size_t kMaxPropertyListBytes = 1 << 20;

// Containers nested in one another. Real files nest a handful of levels; this leaves room for
// any of them while keeping libplist's recursion (parse and free, a few hundred bytes of stack
// per level) far below the smallest thread stack, and its binary reader's check of each
// object's ancestors short.
inline constexpr size_t kMaxPropertyListNesting = 256;

// A binary file's objects as libplist expands them: one node for every reference, and the bytes
// their strings and data take, copied for every reference. A file within kMaxPropertyListBytes
// written without sharing stays far below both; the node count matches what the largest XML file
// allowed could hold, about 16 MiB of nodes.
inline constexpr uint64_t kMaxPropertyListNodes = 1 << 17;
inline constexpr uint64_t kMaxPropertyListPayloadBytes = 16 << 20;

// Whether `bytes` begin as a binary property list ("bplist00"); anything else is read as XML.
bool isBinaryPropertyList(std::string_view bytes);

// Whether libplist may be given `bytes`: no longer than kMaxPropertyListBytes and, in the format
// isBinaryPropertyList picks, within the nesting (and, for the binary format, the expansion)
// bounds above. Also false for some malformed files the library would refuse anyway.
bool withinPropertyListBounds(std::string_view bytes);

}  // namespace nimbra
