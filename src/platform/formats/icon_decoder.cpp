#include "platform/formats/icon_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/formats/png_codec.h"

namespace nimbra {
namespace {

// Every icns entry, and the container itself, starts with a 4-byte type and a 4-byte
// big-endian length that counts those 8 bytes.
constexpr size_t kEntryHeader = 8;

struct IcnsEntry {
  std::string_view type;
  std::span<const uint8_t> data;
};

uint32_t bigEndian32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

std::string_view typeAt(const uint8_t* bytes) { return {reinterpret_cast<const char*>(bytes), 4}; }

// All entries, or nullopt when the container lies about any length. Bytes after the length
// the header declares are not part of it.
std::optional<std::vector<IcnsEntry>> readIcnsEntries(std::span<const uint8_t> bytes) {
  if (bytes.size() < kEntryHeader || typeAt(bytes.data()) != "icns") return std::nullopt;
  const uint32_t total = bigEndian32(bytes.data() + 4);
  if (total < kEntryHeader || total > bytes.size()) return std::nullopt;
  std::vector<IcnsEntry> entries;
  for (size_t at = kEntryHeader; at < total;) {
    if (total - at < kEntryHeader) return std::nullopt;
    const uint32_t length = bigEndian32(bytes.data() + at + 4);
    if (length < kEntryHeader || length > total - at) return std::nullopt;
    entries.push_back(
        {typeAt(bytes.data() + at), bytes.subspan(at + kEntryHeader, length - kEntryHeader)});
    at += length;
  }
  return entries;
}

// Kinds whose data may be a PNG file (or JPEG 2000, which is skipped).
constexpr std::array<std::string_view, 11> kCodedKinds = {
    "ic07", "ic08", "ic09", "ic10", "ic11", "ic12", "ic13", "ic14", "icp4", "icp5", "icp6"};

struct PackedKind {
  std::string_view type;
  uint32_t side;
  std::string_view mask;
  size_t skip;  // it32 data starts with four zero bytes
};
// Smallest to largest.
constexpr std::array<PackedKind, 4> kPackedKinds = {{{"is32", 16, "s8mk", 0},
                                                     {"il32", 32, "l8mk", 0},
                                                     {"ih32", 48, "h8mk", 0},
                                                     {"it32", 128, "t8mk", 4}}};

// The PNG-coded entry to use, or null when there is none.
const IcnsEntry* bestCoded(const std::vector<IcnsEntry>& entries) {
  const IcnsEntry* best = nullptr;
  uint32_t bestWidth = 0;
  for (const IcnsEntry& entry : entries) {
    if (std::find(kCodedKinds.begin(), kCodedKinds.end(), entry.type) == kCodedKinds.end() ||
        !startsWithPngSignature(entry.data)) {
      continue;
    }
    const uint32_t width = pngDeclaredWidth(entry.data).value_or(0);
    const bool better = !best || (width >= kIconSide ? bestWidth < kIconSide || width < bestWidth
                                                     : bestWidth < kIconSide && width > bestWidth);
    if (better) {
      best = &entry;
      bestWidth = width;
    }
  }
  return best;
}

// One channel plane of `count` bytes from the run-length packing: a byte n below 0x80 is
// followed by n + 1 literal bytes; n from 0x80 by one byte repeated n - 0x80 + 3 times.
// False when the data ends early or a run overshoots the plane.
bool unpackPlane(std::span<const uint8_t> data, size_t& at, uint8_t* plane, size_t count) {
  for (size_t filled = 0; filled < count;) {
    if (at >= data.size()) return false;
    const uint8_t control = data[at++];
    if (control < 0x80) {
      const size_t run = size_t{control} + 1;
      if (run > count - filled || run > data.size() - at) return false;
      std::memcpy(plane + filled, data.data() + at, run);
      at += run;
      filled += run;
    } else {
      const size_t run = size_t{control} - 0x80 + 3;
      if (run > count - filled || at >= data.size()) return false;
      std::memset(plane + filled, data[at++], run);
      filled += run;
    }
  }
  return true;
}

std::optional<RgbaImage> decodeLargestPacked(const std::vector<IcnsEntry>& entries) {
  for (auto kind = kPackedKinds.rbegin(); kind != kPackedKinds.rend(); ++kind) {
    auto found = std::find_if(entries.begin(), entries.end(),
                              [&](const IcnsEntry& e) { return e.type == kind->type; });
    if (found == entries.end()) continue;
    const size_t count = size_t{kind->side} * kind->side;
    if (found->data.size() < kind->skip) return std::nullopt;
    std::vector<uint8_t> planes(count * 3);
    size_t at = kind->skip;
    for (int channel = 0; channel < 3; ++channel) {
      if (!unpackPlane(found->data, at, planes.data() + channel * count, count))
        return std::nullopt;
    }
    // A mask of the wrong length is no mask of this image.
    auto mask = std::find_if(entries.begin(), entries.end(), [&](const IcnsEntry& e) {
      return e.type == kind->mask && e.data.size() == count;
    });
    RgbaImage image{kind->side, kind->side, std::vector<uint8_t>(count * 4)};
    for (size_t i = 0; i < count; ++i) {
      image.pixels[i * 4 + 0] = planes[i];
      image.pixels[i * 4 + 1] = planes[count + i];
      image.pixels[i * 4 + 2] = planes[2 * count + i];
      image.pixels[i * 4 + 3] = mask == entries.end() ? 0xff : mask->data[i];
    }
    return image;
  }
  return std::nullopt;
}

}  // namespace

std::optional<RgbaImage> decodeIcon(std::span<const uint8_t> bytes) {
  if (startsWithPngSignature(bytes)) return decodePng(bytes);
  const std::optional<std::vector<IcnsEntry>> entries = readIcnsEntries(bytes);
  if (!entries) return std::nullopt;
  const IcnsEntry* coded = bestCoded(*entries);
  return coded ? decodePng(coded->data) : decodeLargestPacked(*entries);
}

}  // namespace nimbra
