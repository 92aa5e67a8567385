#include "platform/formats/autostart_entries.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "base/errno_text.h"
#include "platform/fs/folder_listing.h"
#include "platform/fs/small_file.h"
#include "platform/machine/home.h"

namespace nimbra {
namespace {

constexpr std::string_view kSuffix = ".desktop";
constexpr std::string_view kMainGroup = "[Desktop Entry]";
// Real entries are a few kilobytes, their longest lines (translated keywords) far below a
// kilobyte. Anything larger is no entry worth reading, and must not cost the listing its memory.
constexpr size_t kMaxEntryBytes = 1 << 20;
constexpr size_t kMaxLineBytes = 8 << 10;

// Undoes the escapes the desktop entry format allows in string values.
std::string unescapeValue(std::string_view value) {
  std::string text;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      text += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's': text += ' '; break;
      case 'n': text += '\n'; break;
      case 't': text += '\t'; break;
      case 'r': text += '\r'; break;
      case '\\': text += '\\'; break;
      default:
        text += '\\';
        text += value[i];
        break;
    }
  }
  return text;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

struct ParsedEntry {
  std::optional<std::string> name;
  bool hidden = false;
};

// Reads the keys of the main group; other groups (actions, vendor extensions) and lines too
// long for any real entry are ignored.
ParsedEntry parseEntry(std::string_view content) {
  ParsedEntry parsed;
  bool inMain = false;
  while (!content.empty()) {
    const size_t end = std::min(content.find('\n'), content.size());
    const std::string_view line = content.substr(0, end);
    content.remove_prefix(std::min(end + 1, content.size()));
    if (line.size() > kMaxLineBytes) continue;
    std::string_view l = trimmed(line);
    if (l.empty() || l.front() == '#') continue;
    if (l.front() == '[') {
      inMain = l == kMainGroup;
      continue;
    }
    if (!inMain) continue;
    const size_t eq = l.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = trimmed(l.substr(0, eq));
    std::string_view value = trimmed(l.substr(eq + 1));
    if (key == "Name" && !parsed.name) parsed.name = unescapeValue(value);
    if (key == "Hidden") parsed.hidden = value == "true";
  }
  return parsed;
}

}  // namespace

std::string autostartFolder() {
  // Relative values are invalid by the base directory rules and are ignored.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
    return std::string(config) + "/autostart";
  }
  return homeDirectory() + "/.config/autostart";
}

std::vector<AutostartEntry> autostartEntries(const std::string& folder) {
  std::vector<std::string> files;
  for (FolderEntry& entry :
       listFolder(folder, LinkAtPath::follow).value_or(std::vector<FolderEntry>{})) {
    if (entry.name.size() > kSuffix.size() && entry.name.ends_with(kSuffix))
      files.push_back(std::move(entry.name));
  }
  std::sort(files.begin(), files.end());

  std::vector<AutostartEntry> entries;
  for (const auto& file : files) {
    const std::string path = folder + "/" + file;
    // Only a regular file is an entry (through a link too). A FIFO, a device or a folder under
    // an entry's name is none, and reading one could block or never end.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) continue;
    // An entry that cannot be read (or is far too large) is still there to be removed.
    const ParsedEntry parsed = parseEntry(readSmallFile(path, kMaxEntryBytes).value_or(""));
    if (parsed.hidden) continue;
    std::string name = parsed.name ? *parsed.name : file.substr(0, file.size() - kSuffix.size());
    entries.push_back({std::move(name), path});
  }
  return entries;
}

std::optional<std::string> removeAutostartEntry(const std::string& folder,
                                                const std::string& item) {
  const std::vector<AutostartEntry> entries = autostartEntries(folder);
  auto chosen = std::find_if(entries.begin(), entries.end(),
                             [&](const auto& entry) { return entry.path == item; });
  if (chosen == entries.end()) {
    const auto named = [&](const AutostartEntry& entry) { return entry.name == item; };
    chosen = std::find_if(entries.begin(), entries.end(), named);
    // Taking the first of several would remove whichever sorts first, not the one meant.
    if (std::count_if(entries.begin(), entries.end(), named) > 1) {
      return "Several login items are named \"" + item + "\"; remove one by its path.";
    }
  }
  if (chosen == entries.end()) return "Can't get login item \"" + item + "\".";
  if (::unlink(chosen->path.c_str()) != 0) return pathErrorText(chosen->path, errno);
  return std::nullopt;
}

}  // namespace nimbra
