// Feeds arbitrary bytes to the property-list reader as if they were a job or information file.
// What the bounds let through is then parsed by libplist directly and measured without
// recursion: a tree deeper, or a binary file's tree larger, than the bounds promise is a fault
// of the checks (found here, instead of as a crash on some machine). A tree they let through must
// also be written as XML and as binary by the library and pass them again: the service rewrites
// job files it has read, and what it writes it has to read back.

#include <plist/plist.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/formats/property_list.h"
#include "platform/formats/property_list_bounds.h"

namespace {

[[noreturn]] void fault(const char* what) {
  std::fprintf(stderr, "property list fault: %s\n", what);
  std::abort();
}

struct Shape {
  size_t nesting = 0;  // containers nested in one another, an empty one counting too
  uint64_t nodes = 0;  // dictionary keys included, as the binary format counts them
};

Shape measure(plist_t root) {
  Shape shape;
  std::vector<std::pair<plist_t, size_t>> pending = {{root, 0}};  // a node, the containers above it
  while (!pending.empty()) {
    const auto [node, above] = pending.back();
    pending.pop_back();
    ++shape.nodes;
    const plist_type type = plist_get_node_type(node);
    if (type != PLIST_ARRAY && type != PLIST_DICT) continue;
    shape.nesting = std::max(shape.nesting, above + 1);
    if (type == PLIST_ARRAY) {
      for (uint32_t i = 0; i < plist_array_get_size(node); ++i) pending.emplace_back(plist_array_get_item(node, i), above + 1);
      continue;
    }
    plist_dict_iter entries = nullptr;
    plist_dict_new_iter(node, &entries);
    for (;;) {
      // Values only: the library asserts when it hands out a key holding a NUL byte, which a
      // binary file can give it. The service never asks for keys.
      plist_t value = nullptr;
      plist_dict_next_item(node, entries, nullptr, &value);
      if (!value) break;
      ++shape.nodes;
      pending.emplace_back(value, above + 1);
    }
    std::free(entries);
  }
  return shape;
}

// The library's own XML or binary form of `root` passes the bounds again, when it fits the size.
// A dictionary first gets the entry the service sets when it switches a job.
void checkWrittenBack(plist_t root, size_t nesting) {
  if (plist_get_node_type(root) == PLIST_DICT) plist_dict_set_item(root, "Disabled", plist_new_bool(1));
  char* xml = nullptr;
  uint32_t xmlLength = 0;
  plist_to_xml(root, &xml, &xmlLength);
  // A UID is written as a one-entry dictionary, one level deeper than the node it was.
  if (xml && xmlLength <= nimbra::kMaxPropertyListBytes && nesting < nimbra::kMaxPropertyListNesting &&
      !nimbra::withinPropertyListBounds(std::string_view(xml, xmlLength))) {
    fault("the library's XML of a tree within the bounds is refused");
  }
  plist_to_xml_free(xml);
  char* binary = nullptr;
  uint32_t binaryLength = 0;
  plist_to_bin(root, &binary, &binaryLength);
  if (binary && binaryLength <= nimbra::kMaxPropertyListBytes &&
      !nimbra::withinPropertyListBounds(std::string_view(binary, binaryLength))) {
    fault("the library's binary form of a tree within the bounds is refused");
  }
  plist_to_bin_free(binary);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nimbra;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (std::optional<PropertyList> list = PropertyList::dictionaryFromBytes(bytes)) {
    (void)list->string("Label");
    (void)list->strings("ProgramArguments");
    (void)list->boolean("RunAtLoad");
  }
  if (bytes.empty() || !withinPropertyListBounds(bytes)) return 0;

  plist_t root = nullptr;
  const bool binary = isBinaryPropertyList(bytes);
  binary ? plist_from_bin(bytes.data(), static_cast<uint32_t>(size), &root)
         : plist_from_xml(bytes.data(), static_cast<uint32_t>(size), &root);
  if (!root) return 0;
  // On a fault the tree is left unfreed: freeing it is what could overflow the stack.
  const Shape shape = measure(root);
  if (shape.nesting > kMaxPropertyListNesting) fault("a tree nested deeper than the bounds allow");
  if (binary && shape.nodes > kMaxPropertyListNodes) fault("a binary file expanded past the node bound");
  checkWrittenBack(root, shape.nesting);
  plist_free(root);
  return 0;
}
