#pragma once

// The user's Trash on this platform: the freedesktop.org home trash, which every desktop's
// file manager shows and restores from. An item moves to files/NAME (NAME unique in the
// trash) and info/NAME.trashinfo, written first, records where it came from and when, so a
// file manager can put it back. A trash whose folder, files/ or info/ is a symbolic link is
// never used: nothing is moved into, listed in or removed from what lies behind the link.

#include <optional>
#include <string>
#include <vector>

namespace nimbra {

struct TrashedItem {
  std::string location;  // TRASH/files/NAME: where the item is now
  std::string infoPath;  // TRASH/info/NAME.trashinfo
};

struct TrashMove {
  std::optional<TrashedItem> trashed;  // absent when the move failed
  std::string error;                   // "PATH: description" when it failed
};

// $XDG_DATA_HOME/Trash, default home + "/.local/share/Trash"; read at each call.
std::string homeTrashFolder();

// Moves the item at `path` (a file, a folder with its contents, or a link itself, never its
// target) into the trash at `trashFolder`, creating the trash's folders when missing. Refuses,
// as removal does, what removalRefusal names. An item on another file system than the trash,
// or a folder with a file system mounted inside it, is not moved and never copied: the move
// fails with the platform's cross-device error (or the removal's mounted-here text), and
// nothing is left behind in the trash.
TrashMove moveToTrash(const std::string& path, const std::string& trashFolder);

// The trashed item named NAME in files/, with its record.
TrashedItem trashedItemNamed(const std::string& trashFolder, const std::string& name);

// The names in the trash's files/ folder, in listing order, hidden ones too; none when the
// trash cannot be listed or is not to be used (see above).
std::vector<std::string> trashedNames(const std::string& trashFolder);

// For an item that has since been removed from files/: its record goes too.
void forgetTrashedItem(const TrashedItem& item);

// `path` as an entry directly inside the trash's files/ folder, spelled as trashedNames'
// entries are joined: its record, or nullopt for any other path.
std::optional<TrashedItem> trashEntryAt(const std::string& path, const std::string& trashFolder);

// Drops the trash's cache of folder sizes (directorysizes), which names entries of files/
// and is rebuilt by whoever reads it.
void forgetDirectorySizes(const std::string& trashFolder);

}  // namespace nimbra
