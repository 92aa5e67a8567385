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

// The entries of `folder`, ordered by file name so the listing is stable. Entries marked
// Hidden=true count as deleted (that is what the key means) and are left out. A folder that
// cannot be read has none.
std::vector<AutostartEntry> autostartEntries(const std::string& folder);

// Removes the first entry of `folder` whose name is exactly `name` (a link is removed, never
// its target). Nullopt on success, else the error text.
std::optional<std::string> removeAutostartEntry(const std::string& folder, const std::string& name);

}  // namespace nimbra
