#include "app/ncdu_export.h"

#include <sys/stat.h>

#include <ctime>
#include <vector>

#include "channel/standard_codec.h"
#include "platform/dir_walker.h"
#include "platform/path_parts.h"
#include "platform/utf8.h"

namespace nimbra {
namespace {

constexpr int64_t kBlockBytes = 512;

// A JSON string literal of `text`, invalid UTF-8 replaced by U+FFFD.
std::string jsonString(const std::string& text) {
  std::string valid = text;
  if (!isValidUtf8(valid)) valid = replaceInvalidUtf8(valid);
  std::string out = "\"";
  for (const char c : valid) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string entryObject(const std::string& name, const struct stat* info, bool isFolder) {
  std::string out = "{\"name\":" + jsonString(name);
  if (!info) return out + ",\"read_error\":true}";
  const bool regular = S_ISREG(info->st_mode);
  if (regular || isFolder) {
    out += ",\"asize\":" + std::to_string(info->st_size);
    out += ",\"dsize\":" + std::to_string(static_cast<int64_t>(info->st_blocks) * kBlockBytes);
  } else {
    out += ",\"notreg\":true";
  }
  if (isFolder) out += ",\"dev\":" + std::to_string(static_cast<uint64_t>(info->st_dev));
  out += ",\"ino\":" + std::to_string(static_cast<uint64_t>(info->st_ino));
  if (regular && info->st_nlink > 1) out += ",\"hlnkc\":true";
  return out + "}";
}

}  // namespace

NcduExportTotals exportNcdu(const std::string& root, std::ostream& out, const std::function<bool()>& cancelled) {
  NcduExportTotals totals;
  out << "[1,2,{\"progname\":\"nimbra\",\"progver\":\"1\",\"timestamp\":" << std::time(nullptr) << "},\n";
  struct stat rootInfo {};
  const bool rootRead = !namesNoFile(root) && ::lstat(withoutTrailingSlashes(root).c_str(), &rootInfo) == 0;
  out << "[" << entryObject(root, rootRead ? &rootInfo : nullptr, true);

  DirWalker walker(root);
  int openFolders = 1;  // arrays written and not yet closed: the root's and its open descendants'
  while (const WalkEntry* entry = walker.next()) {
    if (cancelled()) {
      totals.complete = false;
      break;
    }
    // Pre-order: an entry at depth d closes every folder deeper than its parent.
    for (; openFolders > entry->depth(); --openFolders) out << "]";
    ++totals.entries;
    const struct stat* info = entry->stat();
    const std::string name(entry->name());
    if (info && S_ISDIR(info->st_mode)) {
      out << ",\n[" << entryObject(name, info, true);
      ++openFolders;
    } else {
      out << ",\n" << entryObject(name, info, false);
      if (info && S_ISREG(info->st_mode)) totals.logicalBytes += info->st_size;
    }
  }
  for (; openFolders > 0; --openFolders) out << "]";
  out << "]\n";
  return totals;
}

}  // namespace nimbra
