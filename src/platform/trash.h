#pragma once

// The user's Trash on this platform: the freedesktop.org home trash. An item moves to
// files/NAME (NAME unique in the trash) and info/NAME.trashinfo, written first, records where
// it came from and when, so a file manager can put it back.

#include <optional>
#include <string>

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
// target) into the trash at `trashFolder`, creating the trash's folders when missing. An item
// on another file system than the trash is not copied: the move fails with the platform's
// cross-device error, and nothing is left behind in the trash.
TrashMove moveToTrash(const std::string& path, const std::string& trashFolder);

// For an item that has since been removed from files/: its record goes too.
void forgetTrashedItem(const TrashedItem& item);

}  // namespace nimbra
