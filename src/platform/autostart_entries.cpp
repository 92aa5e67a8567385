#include "platform/autostart_entries.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/folder_listing.h"
#include "platform/home.h"
#include "platform/system_error_text.h"

namespace nimbra {
namespace {

constexpr std::string_view kSuffix = ".desktop";
constexpr std::string_view kMainGroup = "[Desktop Entry]";

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
      default: text += '\\'; text += value[i]; break;
    }
  }
  return text;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

struct ParsedEntry {
  std::optional<std::string> name;
  bool hidden = false;
};

// Reads the keys of the main group; other groups (actions, vendor extensions) are ignored.
ParsedEntry parseEntry(const std::string& path) {
  ParsedEntry parsed;
  std::ifstream in(path);
  std::string line;
  bool inMain = false;
  while (std::getline(in, line)) {
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
  for (FolderEntry& entry : listFolder(folder, LinkAtPath::follow).value_or(std::vector<FolderEntry>{})) {
    if (entry.name.size() > kSuffix.size() && entry.name.ends_with(kSuffix)) files.push_back(std::move(entry.name));
  }
  std::sort(files.begin(), files.end());

  std::vector<AutostartEntry> entries;
  for (const auto& file : files) {
    const std::string path = folder + "/" + file;
    ParsedEntry parsed = parseEntry(path);
    if (parsed.hidden) continue;
    std::string name = parsed.name ? *parsed.name : file.substr(0, file.size() - kSuffix.size());
    entries.push_back({std::move(name), path});
  }
  return entries;
}

std::optional<std::string> removeAutostartEntry(const std::string& folder, const std::string& name) {
  for (const auto& entry : autostartEntries(folder)) {
    if (entry.name != name) continue;
    if (::unlink(entry.path.c_str()) != 0) return pathErrorText(entry.path, errno);
    return std::nullopt;
  }
  return "Can't get login item \"" + name + "\".";
}

}  // namespace nimbra
