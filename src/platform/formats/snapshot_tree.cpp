#include "platform/formats/snapshot_tree.h"

#include <limits>

namespace nimbra {
namespace {

void appendVarint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

// A varint of at most 63 bits, so that it fits an int64; nullopt past the end or beyond.
std::optional<int64_t> readVarint(std::string_view bytes, size_t& at) {
  uint64_t value = 0;
  for (int shift = 0; shift < 63; shift += 7) {
    if (at == bytes.size()) return std::nullopt;
    const auto byte = static_cast<uint8_t>(bytes[at++]);
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (!(byte & 0x80)) {
      if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
      return static_cast<int64_t>(value);
    }
  }
  return std::nullopt;
}

struct Record {
  int64_t depth;
  SnapshotFolder folder;
};

}  // namespace

void SnapshotTreeWriter::add(int64_t depth, std::string_view name, int64_t size, int64_t files,
                             bool unreadable) {
  appendVarint(bytes_, static_cast<uint64_t>(depth) << 1 | (unreadable ? 1 : 0));
  appendVarint(bytes_, name.size());
  bytes_.append(name);
  appendVarint(bytes_, static_cast<uint64_t>(size));
  appendVarint(bytes_, static_cast<uint64_t>(files));
  ++folders_;
}

std::optional<std::vector<SnapshotFolder>> readSnapshotTree(std::string_view bytes) {
  std::vector<Record> records;
  for (size_t at = 0; at < bytes.size();) {
    const std::optional<int64_t> head = readVarint(bytes, at);
    const std::optional<int64_t> length = readVarint(bytes, at);
    if (!head || !length || *length > static_cast<int64_t>(bytes.size() - at)) return std::nullopt;
    Record record{*head >> 1, {}};
    record.folder.unreadable = (*head & 1) != 0;
    record.folder.name = bytes.substr(at, static_cast<size_t>(*length));
    at += static_cast<size_t>(*length);
    const std::optional<int64_t> size = readVarint(bytes, at);
    const std::optional<int64_t> files = readVarint(bytes, at);
    if (!size || !files) return std::nullopt;
    record.folder.size = *size;
    record.folder.files = *files;
    const bool root = record.depth == 0;
    if (root != record.folder.name.empty() ||
        record.folder.name.find('/') != std::string_view::npos) {
      return std::nullopt;
    }
    records.push_back(record);
  }
  if (records.empty() || records.back().depth != 0 || records.size() > SnapshotFolder::kNoParent)
    return std::nullopt;
  // Backwards, post-order is a pre-order (a folder before what it holds): the parent of a
  // folder at depth d is the last one met at depth d - 1, and no folder may skip a level.
  std::vector<uint32_t> lastAtDepth;
  std::vector<SnapshotFolder> folders(records.size());
  for (size_t i = records.size(); i-- > 0;) {
    const int64_t depth = records[i].depth;
    if (depth > static_cast<int64_t>(lastAtDepth.size()) ||
        (depth == 0) != (i + 1 == records.size()))
      return std::nullopt;
    lastAtDepth.resize(static_cast<size_t>(depth));
    folders[i] = records[i].folder;
    folders[i].parent = depth == 0 ? SnapshotFolder::kNoParent : lastAtDepth.back();
    lastAtDepth.push_back(static_cast<uint32_t>(i));
  }
  return folders;
}

}  // namespace nimbra
