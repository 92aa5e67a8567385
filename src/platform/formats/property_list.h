#pragma once

// Property lists whose top level is a dictionary (launch job files, application information
// files), read from XML or binary files and written back as XML. A thin owner of a libplist
// tree: entries the caller does not touch are kept exactly, of every type (dates, data,
// nested arrays and dictionaries, integers, reals).
//
// Not thread-safe per object; separate objects may be used on separate threads.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbra {

class PropertyList {
 public:
  // The dictionary in the file at `path`, XML or binary; nullopt when the file cannot be
  // read, is not a property list, or its top level is not a dictionary. A file past the bounds
  // of property_list_bounds.h (size, nesting, expansion) counts as one that cannot be read.
  static std::optional<PropertyList> readDictionary(const std::string& path);
  // The same for a file's content already in memory.
  static std::optional<PropertyList> dictionaryFromBytes(std::string_view bytes);

  PropertyList(PropertyList&&) noexcept;
  PropertyList& operator=(PropertyList&&) noexcept;
  ~PropertyList();

  // Typed reads: a key whose value has another type counts as absent.
  std::optional<std::string> string(const std::string& key) const;
  std::optional<bool> boolean(const std::string& key) const;
  // A list whose every element is a string; any other element makes the whole list absent.
  std::optional<std::vector<std::string>> strings(const std::string& key) const;

  // Sets (or replaces) one entry; every other entry stays as it is.
  void setBoolean(const std::string& key, bool value);

  // Writes the dictionary as an XML property list to `path` atomically: a temporary file in
  // the same folder, flushed to disk, then renamed over `path`, so a reader sees the old file
  // or the new one, never a part. A link at `path` is replaced, never written through; a
  // device, FIFO, socket or folder there is left as it is, and that is a failure. Answers
  // "PATH: description" when it could not.
  std::optional<std::string> writeAtomically(const std::string& path) const;

 private:
  struct Tree;
  explicit PropertyList(std::unique_ptr<Tree> tree);
  std::unique_ptr<Tree> tree_;
};

}  // namespace nimbra
