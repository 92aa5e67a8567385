#include "platform/formats/property_list.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>

#include "base/descriptor.h"
#include "base/errno_text.h"
#include "base/fd_io.h"
#include "base/path_parts.h"
#include "platform/formats/property_list_bounds.h"
#include "platform/fs/small_file.h"

namespace nimbra {
namespace {

// Why what stands at `path` must not be replaced by a file, or nullopt: only a file, a link (the
// link itself goes, its target is never written) or nothing is. A device, FIFO or socket put
// where a job file was expected stays what it is.
std::optional<std::string> notReplaceable(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))
    return std::nullopt;
  if (S_ISDIR(info.st_mode)) return pathErrorText(path, EISDIR);
  return path + ": not a regular file, left as it is";
}

}  // namespace

struct PropertyList::Tree {
  plist_t root = nullptr;
  ~Tree() {
    if (root) plist_free(root);
  }
  plist_t item(const std::string& key) const { return plist_dict_get_item(root, key.c_str()); }
};

PropertyList::PropertyList(std::unique_ptr<Tree> tree) : tree_(std::move(tree)) {}
PropertyList::PropertyList(PropertyList&&) noexcept = default;
PropertyList& PropertyList::operator=(PropertyList&&) noexcept = default;
PropertyList::~PropertyList() = default;

std::optional<PropertyList> PropertyList::readDictionary(const std::string& path) {
  const std::optional<std::string> bytes = readSmallFile(path, kMaxPropertyListBytes);
  return bytes ? dictionaryFromBytes(*bytes) : std::nullopt;
}

std::optional<PropertyList> PropertyList::dictionaryFromBytes(std::string_view bytes) {
  // libplist recurses and copies without limit: nothing it has not been shown to survive
  // reaches it, neither to parse nor, after a failed parse, to free.
  if (bytes.empty() || !withinPropertyListBounds(bytes)) return std::nullopt;
  auto tree = std::make_unique<Tree>();
  const auto length = static_cast<uint32_t>(bytes.size());
  // The format is decided here, as the bounds were checked, not left to the library to guess.
  if (isBinaryPropertyList(bytes)) {
    plist_from_bin(bytes.data(), length, &tree->root);
  } else {
    plist_from_xml(bytes.data(), length, &tree->root);
  }
  if (!tree->root || plist_get_node_type(tree->root) != PLIST_DICT) return std::nullopt;
  return PropertyList(std::move(tree));
}

std::optional<std::string> PropertyList::string(const std::string& key) const {
  const plist_t node = tree_->item(key);
  if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  return text ? std::string(text, static_cast<size_t>(length)) : std::string();
}

std::optional<bool> PropertyList::boolean(const std::string& key) const {
  const plist_t node = tree_->item(key);
  if (!node || plist_get_node_type(node) != PLIST_BOOLEAN) return std::nullopt;
  uint8_t value = 0;
  plist_get_bool_val(node, &value);
  return value != 0;
}

std::optional<std::vector<std::string>> PropertyList::strings(const std::string& key) const {
  const plist_t node = tree_->item(key);
  if (!node || plist_get_node_type(node) != PLIST_ARRAY) return std::nullopt;
  std::vector<std::string> list;
  const uint32_t count = plist_array_get_size(node);
  for (uint32_t i = 0; i < count; ++i) {
    const plist_t element = plist_array_get_item(node, i);
    if (!element || plist_get_node_type(element) != PLIST_STRING) return std::nullopt;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(element, &length);
    list.emplace_back(text ? std::string(text, static_cast<size_t>(length)) : std::string());
  }
  return list;
}

void PropertyList::setBoolean(const std::string& key, bool value) {
  plist_dict_set_item(tree_->root, key.c_str(), plist_new_bool(value ? 1 : 0));
}

std::optional<std::string> PropertyList::writeAtomically(const std::string& path) const {
  if (namesNoFile(path)) return pathErrorText(path, ENOENT);
  if (auto refusal = notReplaceable(path)) return refusal;
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(tree_->root, &xml, &length);
  if (!xml) return pathErrorText(path, ENOMEM);
  std::unique_ptr<char, void (*)(char*)> text(xml, plist_to_xml_free);

  // The temporary file sits beside the target, so the rename stays on one file system.
  const PathParts parts = splitLastComponent(path);
  std::string temporary = (parts.parent == "/" ? "" : parts.parent) + "/." + parts.name + ".XXXXXX";
  Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd.ok()) return pathErrorText(temporary, errno);
  // A job file keeps the permission bits it had; a new file gets the usual 0644.
  struct stat old {};
  ::fchmod(fd.get(), ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
  if (!writeAll(fd.get(), std::string_view(text.get(), length)) || ::fsync(fd.get()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return pathErrorText(temporary, error);
  }
  fd.reset();
  // Asked again as late as can be: the entry may have changed while the new file was written.
  if (auto refusal = notReplaceable(path)) {
    ::unlink(temporary.c_str());
    return refusal;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return pathErrorText(path, error);
  }
  return std::nullopt;
}

}  // namespace nimbra
