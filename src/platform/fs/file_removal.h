#pragma once

// Permanent removal of files and folders. Everything happens relative to open directory
// descriptors (openat with O_NOFOLLOW | O_DIRECTORY, unlinkat), so a folder that is replaced
// by a symbolic link while it is being removed is never followed out of the tree: the link is
// removed, never what it points to. The folders above the item are the caller's path and are
// resolved as usual; the item itself and everything below it are never followed.
//
// Removal never leaves the mount of the folder that holds the item, as `rm --one-file-system`
// would not: a folder mounted anywhere inside the item (a bind mount of the same device too),
// or an item that is itself a mount point, stays with everything in it, and the failure reads
// "PATH: another file system is mounted here". A path holding a NUL byte names no file.
//
// Blocking; safe to run on several threads at once (no shared state).

#include <functional>
#include <optional>
#include <string>

namespace nimbra {

struct Removal {
  // "ENTRY: description" for the first entry that could not be removed (ENTRY its full path);
  // absent when the item is gone.
  std::optional<std::string> failure;
  bool failed() const { return failure.has_value(); }
};

// Removes the item at `path` for good: a file, a symbolic link, or a directory with
// everything below it. Stops at the first entry it cannot remove; whatever was removed before
// stays removed. A trailing "/" does not make a link count as its target. Refuses, touching
// nothing, what removalRefusal names.
Removal removeItem(const std::string& path);

// Removes everything inside the directory at `path` that can be removed, at every depth,
// going past what cannot; the directory itself stays. Only a real directory is emptied: when
// `path` is a symbolic link, to a folder or not, nothing happens. `cancelled` is asked before
// each entry at every depth; once it answers true the emptying stops where it is. Refuses the
// same paths as removeItem. Errors are not reported: the caller looks at what is left.
void emptyDirectory(const std::string& path, const std::function<bool()>& cancelled);

// removeItem and emptyDirectory for the entry `name` of the folder open as `parentFd`, for a
// caller that reached that folder its own way (the Trash's files/, never through a link);
// nothing but `name` itself is resolved, and it is never followed. `path` names the entry in
// failure texts. `name` must be a single component other than "." and "..".
Removal removeEntry(int parentFd, const std::string& name, const std::string& path);
void emptyEntry(int parentFd, const std::string& name, const std::string& path,
                const std::function<bool()>& cancelled);

// Why removeItem and emptyDirectory would refuse `path` untouched ("PATH: description"): the
// root folder, a last component "." or "..", a path that names no file. Nullopt otherwise.
std::optional<std::string> removalRefusal(const std::string& path);

// "PATH: another file system is mounted here": the failure of a removal that stopped at a mount.
std::string mountedHereText(const std::string& path);

// A file system mounted at the item `path` names (the item itself, never followed) or anywhere
// below it, by this process's mount table: the mount point's path, or nullopt. Asked before a
// path is handed to a program that would not stop at a mount point.
std::optional<std::string> mountPointWithin(const std::string& path);

}  // namespace nimbra
