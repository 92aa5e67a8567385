#pragma once

// The user's Trash on this platform: the freedesktop.org home trash, which every desktop's
// file manager shows and restores from. An item moves to files/NAME (NAME unique in the
// trash) and info/NAME.trashinfo, written first, records where it came from and when, so a
// file manager can put it back.
//
// A trash whose folder, files/ or info/ is a symbolic link is never used: nothing is moved
// into, listed in, read from or removed from what lies behind the link. Every function here
// reaches the trash's entries and records through those three folders opened without following
// a link, never through the path text, so a link planted there (or swapped in meanwhile) leads
// nowhere.

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/fs/file_removal.h"

namespace nimbra {

// One entry of the trash, by name; the paths are for people and for the callers' answers.
struct TrashedItem {
  std::string folder;    // the trash
  std::string name;      // its name in files/
  std::string location;  // TRASH/files/NAME: where the item is now
  std::string infoPath;  // TRASH/info/NAME.trashinfo
};

struct TrashMove {
  std::optional<TrashedItem> trashed;  // absent when the move failed
  std::string error;                   // "PATH: description" when it failed
  // Refused because the item is in the trash already (an entry, or inside one): a caller that
  // wanted it gone for good can remove it where it is.
  bool alreadyInTrash = false;
};

// What an entry's record says.
struct TrashRecord {
  // Where the entry came from, decoded; "" without a readable record or when the record's
  // path is not absolute (a relative one would be relative to some other trash).
  std::string originalPath;
  int64_t deletedAt = 0;  // when it was moved, seconds since 1970; 0 when unknown
};

// The outcome of putting an entry back.
struct TrashRestore {
  std::string originalPath;  // where the entry went back to; "" when it did not
  std::string error;         // "PATH: description" when it did not
};

struct TrashEntry {
  TrashedItem item;
  bool isDirectory = false;  // a folder itself (a link to one is no folder)
  TrashRecord record;
};

// $XDG_DATA_HOME/Trash, default home + "/.local/share/Trash"; read at each call.
std::string homeTrashFolder();

// Moves the item at `path` (a file, a folder with its contents, or a link itself, never its
// target) into the trash at `trashFolder`, creating the trash's folders when missing. Refuses,
// as removal does, what removalRefusal names, and, with a reason, the trash itself, a folder
// that holds it and anything already in it (by identity, however the path is spelled). An item
// on another file system than the trash, or a folder with a file system mounted inside it, is
// not moved and never copied: the move fails with the platform's cross-device error (or the
// removal's mounted-here text), and nothing is left behind in the trash. Never replaces an
// existing entry of files/, with or without a record.
TrashMove moveToTrash(const std::string& path, const std::string& trashFolder);

// The trashed item named NAME in files/, with its record.
TrashedItem trashedItemNamed(const std::string& trashFolder, const std::string& name);

// The entries of the trash's files/ folder, in listing order, hidden ones too, each with what
// its record says (records are read bounded, never through a link, a FIFO or a device); none
// when the trash cannot be listed or is not to be used (see above).
std::vector<TrashEntry> trashEntries(const std::string& trashFolder);

// `path` as an entry directly inside the trash's files/ folder, spelled as trashEntries'
// locations are (a trailing "/" names the entry itself): the entry, or nullopt for any other
// path.
std::optional<TrashedItem> trashEntryAt(const std::string& path, const std::string& trashFolder);

// The entry's own lstat through the trash's folders; nullopt when it is not there.
std::optional<struct stat> statTrashedItem(const TrashedItem& item);

// removeItem and emptyDirectory for an entry, through the trash's folders.
Removal removeTrashedItem(const TrashedItem& item);
void emptyTrashedFolder(const TrashedItem& item, const std::function<bool()>& cancelled);

// Puts the entry back where its record says it came from, and forgets the record. The entry is
// reached through the trash's folders, the original place through each of its folders opened in
// turn without following a link; a missing folder on the way is made (as the user, with the
// usual mode), but nothing is made before it is sure that the entry can move there without
// being copied. Fails, moving nothing, for an entry without a record whose path is absolute
// ("ENTRY: no record of where it came from"), an original path with a NUL byte or a "." or
// ".." component (the platform's invalid-argument text), a link among its folders, a place in
// the trash itself, another file system than the trash's (the platform's cross-device text),
// and anything at the original path, even a link that points nowhere ("PATH already exists").
TrashRestore restoreFromTrash(const TrashedItem& item);

// For an item that has since been removed from files/: its record goes too.
void forgetTrashedItem(const TrashedItem& item);

// Drops the trash's cache of folder sizes (directorysizes), which names entries of files/
// and is rebuilt by whoever reads it.
void forgetDirectorySizes(const std::string& trashFolder);

}  // namespace nimbra
