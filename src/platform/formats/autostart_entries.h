#pragma once

// The login items of this platform: the user's XDG autostart entries
// ($XDG_CONFIG_HOME/autostart/*.desktop, default ~/.config/autostart).

#include <optional>
#include <string>
#include <vector>

namespace nimbra {

struct AutostartEntry {
  std::string name;  // the entry's Name= value; the file name without ".desktop" when absent
  std::string path;  // the .desktop file
  friend bool operator==(const AutostartEntry&, const AutostartEntry&) = default;
};

// The folder the entries live in, read from the environment at each call.
std::string autostartFolder();

// The entries of `folder`, ordered by file name so the listing is stable. Only regular files
// (a link to one too) are entries; each is read up to a bounded size, and one that cannot be
// read is named after its file. Entries marked Hidden=true count as deleted (that is what the key
// means) and are left out. A folder that cannot be read has none.
std::vector<AutostartEntry> autostartEntries(const std::string& folder);

// Removes one entry of `folder`: the one whose file is `item` (each entry's id), else the one
// whose name is exactly `item`, refused when several share it. A link is removed, never its
// target. Nullopt on success, else the error text.
std::optional<std::string> removeAutostartEntry(const std::string& folder, const std::string& item);

}  // namespace nimbra
