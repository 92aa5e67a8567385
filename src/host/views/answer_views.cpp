#include "host/views/answer_views.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <map>

namespace nimbra {
namespace {

// The bar beside each tree line, and the columns kept for size and share.
constexpr size_t kBarWidth = 12;
constexpr size_t kSizeWidth = 9;
constexpr size_t kShareWidth = 4;
// The tree's drawing, in box-drawing characters or, for a terminal that cannot show them, ASCII.
struct TreeGlyphs {
  std::string_view branch, lastBranch, through, remainder;
};
constexpr TreeGlyphs kUnicodeTree{"\u251C\u2500 ", "\u2514\u2500 ", "\u2502  ", "\u2026"};
constexpr TreeGlyphs kAsciiTree{"|- ", "`- ", "|  ", "..."};
constexpr size_t kShortHash = 12;

const ValueMap kNoMap;
const ValueList kNoList;

const ValueMap& mapOf(const Value& value) {
  const ValueMap* map = value.getIf<ValueMap>();
  return map ? *map : kNoMap;
}

const Value* field(const ValueMap& map, std::string_view key) {
  auto found = map.find(key);
  return found == map.end() ? nullptr : &found->second;
}

std::string text(const ValueMap& map, std::string_view key) {
  const Value* value = field(map, key);
  const std::string* string = value ? value->getIf<std::string>() : nullptr;
  return string ? *string : "";
}

int64_t number(const ValueMap& map, std::string_view key) {
  const Value* value = field(map, key);
  return value ? intValue(*value).value_or(0) : 0;
}

bool flag(const ValueMap& map, std::string_view key) {
  const Value* value = field(map, key);
  const bool* b = value ? value->getIf<bool>() : nullptr;
  return b && *b;
}

const ValueList& list(const ValueMap& map, std::string_view key) {
  const Value* value = field(map, key);
  const ValueList* items = value ? value->getIf<ValueList>() : nullptr;
  return items ? *items : kNoList;
}

std::string bytes(int64_t count, const ViewOptions& options) { return sizeText(count, options); }

std::string stringOf(const Value& value) {
  const std::string* string = value.getIf<std::string>();
  return string ? *string : "";
}

// Each path that could not be removed or moved, and the error text line by line.
std::string failures(const ValueMap& result, const char* what, const ViewOptions& options) {
  std::string out;
  const ValueList& failed = list(result, "failed");
  if (!failed.empty()) {
    out += options.palette.warn(plural(static_cast<int64_t>(failed.size()), "item", "items") +
                                " could not be " + what + ":") +
           "\n";
  }
  for (const Value& path : failed) out += "  " + printable(stringOf(path)) + "\n";
  const std::string error = text(result, "error");
  if (!error.empty()) {
    size_t start = 0;
    while (start <= error.size()) {
      const size_t end = std::min(error.find('\n', start), error.size());
      out += "  " + options.palette.dim(printable(error.substr(start, end - start))) + "\n";
      start = end + 1;
    }
  }
  return out;
}

// Local date and time, minutes precision; "-" for an unknown time.
std::string localTime(int64_t seconds) {
  if (seconds <= 0) return "-";
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm local{};
  ::localtime_r(&time, &local);
  std::array<char, 32> out{};
  std::strftime(out.data(), out.size(), "%Y-%m-%d %H:%M", &local);
  return out.data();
}

struct Column {
  std::string title;
  bool alignRight = false;
};

// A table whose last column (a path or a name) gets what is left of the width and is fitted
// into it; the other columns are as wide as their widest cell.
std::string table(const std::vector<Column>& columns,
                  const std::vector<std::vector<std::string>>& rows, const ViewOptions& options) {
  std::vector<size_t> widths(columns.size());
  for (size_t c = 0; c + 1 < columns.size(); ++c) {
    widths[c] = displayWidth(columns[c].title);
    for (const auto& row : rows) widths[c] = std::max(widths[c], displayWidth(row[c]));
  }
  size_t used = 0;
  for (size_t c = 0; c + 1 < columns.size(); ++c) used += widths[c] + 2;
  const size_t last = options.columns > used + 8 ? options.columns - used : 8;
  auto line = [&](const std::vector<std::string>& cells, bool header) {
    std::string out;
    for (size_t c = 0; c < columns.size(); ++c) {
      if (c + 1 == columns.size()) {
        out += fitPath(cells[c], last);
        break;
      }
      const std::string cell = printable(cells[c]);
      out += (columns[c].alignRight ? padLeft(cell, widths[c]) : padRight(cell, widths[c])) + "  ";
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return (header ? options.palette.bold(out) : out) + "\n";
  };
  std::vector<std::string> titles;
  for (const Column& column : columns) titles.push_back(column.title);
  std::string out = line(titles, true);
  for (const auto& row : rows) out += line(row, false);
  return out;
}

struct TreeRow {
  std::string branch;      // the tree drawing before the name
  size_t branchWidth = 0;  // its columns: three a level
  std::string name;
  bool remainder = false;
  int64_t size = 0;
  double share = 0;
};

// Pre-order, with an explicit stack: an answer may nest a few thousand levels deep.
std::vector<TreeRow> treeRows(const ValueMap& root, const TreeGlyphs& glyphs) {
  struct Open {
    const ValueMap* node;
    std::string indent;
    size_t next = 0;
  };
  std::vector<TreeRow> rows;
  std::vector<Open> open{{&root, "", 0}};
  while (!open.empty()) {
    Open& top = open.back();
    const ValueList& children = list(*top.node, "children");
    if (top.next == children.size()) {
      open.pop_back();
      continue;
    }
    const ValueMap& child = mapOf(children[top.next++]);
    const bool lastChild = top.next == children.size();
    TreeRow row;
    row.remainder = flag(child, "isOther");
    row.name = row.remainder ? std::string(glyphs.remainder) + " the rest" : text(child, "name");
    if (flag(child, "isDir") && !row.remainder) row.name += "/";
    row.branch = top.indent + std::string(lastChild ? glyphs.lastBranch : glyphs.branch);
    row.branchWidth = 3 * open.size();
    row.size = number(child, "size");
    row.share = static_cast<double>(row.size) /
                static_cast<double>(std::max<int64_t>(number(*top.node, "size"), 1));
    rows.push_back(std::move(row));
    std::string indent =
        top.indent + (lastChild ? std::string("   ") : std::string(glyphs.through));
    open.push_back({&child, std::move(indent), 0});
  }
  return rows;
}

}  // namespace

const ValueList& answerList(const Value& answer, std::string_view key) {
  return list(mapOf(answer), key);
}
std::string answerText(const Value& answer, std::string_view key) {
  return text(mapOf(answer), key);
}
int64_t answerNumber(const Value& answer, std::string_view key) {
  return number(mapOf(answer), key);
}
bool answerFlag(const Value& answer, std::string_view key) { return flag(mapOf(answer), key); }

std::string sizeText(int64_t count, const ViewOptions& options) {
  return options.exactBytes ? std::to_string(count) : formatByteCount(count, options.units);
}

std::string junkLabel(const std::string& id) {
  static const std::map<std::string, std::string> kLabels = {{"userCache", "User caches"},
                                                             {"userLogs", "Logs"},
                                                             {"systemCache", "System caches"},
                                                             {"temp", "Temporary files"},
                                                             {"trash", "Trash"},
                                                             {"developer", "Developer files"},
                                                             {"browsers", "Browser caches"},
                                                             {"crashReports", "Crash reports"},
                                                             {"savedState", "Saved window state"},
                                                             {"mail", "Mail downloads"},
                                                             {"iosBackups", "Device backups"},
                                                             {"localization", "Unused languages"}};
  auto found = kLabels.find(id);
  return found == kLabels.end() ? id : found->second;
}

std::string treeView(const Value& answer, const ViewOptions& options) {
  const ValueMap& root = mapOf(answer);
  std::string out = options.palette.bold(printable(text(root, "path"))) + "  " +
                    bytes(number(root, "size"), options) + "  " +
                    plural(number(root, "files"), "file", "files") + "\n";
  const std::vector<TreeRow> rows = treeRows(root, options.unicode ? kUnicodeTree : kAsciiTree);
  // Sizes line up in a column as wide as the widest (exact byte counts may be long), names in
  // one as wide as the widest name, as far as the terminal allows.
  size_t sizeWidth = kSizeWidth;
  for (const TreeRow& row : rows) sizeWidth = std::max(sizeWidth, bytes(row.size, options).size());
  const size_t tailWidth = sizeWidth + kBarWidth + kShareWidth + 4;
  size_t nameColumn = 0;
  for (const TreeRow& row : rows)
    nameColumn = std::max(nameColumn, row.branchWidth + displayWidth(row.name));
  nameColumn =
      std::min(nameColumn, options.columns > tailWidth + 8 ? options.columns - tailWidth : 8);
  for (const TreeRow& row : rows) {
    const size_t nameWidth = nameColumn > row.branchWidth + 4 ? nameColumn - row.branchWidth : 4;
    std::string name = padRight(fitPath(row.name, nameWidth), nameWidth);
    if (row.remainder) name = options.palette.dim(name);
    out += options.palette.dim(row.branch) + name + "  " +
           padLeft(bytes(row.size, options), sizeWidth) + " " +
           options.palette.accent(bar(row.share, kBarWidth, options.unicode)) + " " +
           padLeft(std::to_string(std::lround(row.share * 100)) + "%", kShareWidth) + "\n";
  }
  return out;
}

std::string largeFilesView(const Value& answer, const ViewOptions& options) {
  const ValueMap& result = mapOf(answer);
  std::vector<std::vector<std::string>> rows;
  for (const Value& item : list(result, "items")) {
    const ValueMap& file = mapOf(item);
    rows.push_back({bytes(number(file, "size"), options), localTime(number(file, "modified")),
                    text(file, "path")});
  }
  std::string out =
      rows.empty() ? "" : table({{"SIZE", true}, {"MODIFIED"}, {"PATH"}}, rows, options);
  const int64_t unnamed = number(result, "unnamed");
  const int64_t listed = static_cast<int64_t>(rows.size()) + unnamed;
  const int64_t matched = std::max(number(result, "matched"), listed);
  // The list keeps the largest: when more were large enough, it says of how many.
  out += matched > listed ? "the " + withThousands(listed) + " largest of " +
                                plural(matched, "large file", "large files")
                          : plural(listed, "large file", "large files");
  out += " among " + plural(number(result, "scanned"), "file", "files") + " scanned\n";
  if (unnamed > 0) {
    out += options.palette.warn(plural(unnamed, "of them is", "of them are") +
                                " not listed: the name is not valid UTF-8") +
           "\n";
  }
  return out;
}

std::string duplicatesView(const Value& answer, const ViewOptions& options) {
  const ValueMap& result = mapOf(answer);
  const ValueList& groups = list(result, "groups");
  std::string out;
  for (const Value& entry : groups) {
    const ValueMap& group = mapOf(entry);
    const ValueList& files = list(group, "files");
    const int64_t unnamed = number(group, "unnamed");
    const std::string hash = text(group, "hash").substr(0, kShortHash);
    out += options.palette.bold(
               plural(static_cast<int64_t>(files.size()) + unnamed, "copy", "copies") + " of " +
               bytes(number(group, "size"), options)) +
           ", " + bytes(number(group, "wasted"), options) + " wasted  " +
           options.palette.dim("sha256 " + hash) + "\n";
    for (const Value& file : files) {
      out += "  " +
             fitPath(text(mapOf(file), "path"), options.columns > 2 ? options.columns - 2 : 1) +
             "\n";
    }
    if (unnamed > 0) {
      out += "  " +
             options.palette.dim("and " + plural(unnamed, "copy", "copies") +
                                 " whose name is not valid UTF-8") +
             "\n";
    }
  }
  out += plural(static_cast<int64_t>(groups.size()), "group", "groups") + ", " +
         bytes(number(result, "wasted"), options) + " wasted, " +
         plural(number(result, "scanned"), "file", "files") + " scanned\n";
  return out;
}

std::string typesView(const Value& answer, const ViewOptions& options) {
  static const std::map<std::string, std::string> kAgeLabels = {{"month", "under a month"},
                                                                {"halfYear", "1 to 6 months"},
                                                                {"year", "6 to 12 months"},
                                                                {"twoYears", "1 to 2 years"},
                                                                {"older", "over 2 years"}};
  const ValueMap& result = mapOf(answer);
  const int64_t total = number(result, "size");
  // One table a list: its label, size, files and a bar of the share of the whole.
  const auto section = [&](const char* title, const char* key, const auto& labelOf) {
    std::vector<std::vector<std::string>> rows;
    for (const Value& entry : list(result, key)) {
      const ValueMap& row = mapOf(entry);
      const double share =
          total > 0 ? static_cast<double>(number(row, "size")) / static_cast<double>(total) : 0;
      rows.push_back({bytes(number(row, "size"), options), withThousands(number(row, "files")),
                      bar(share, kBarWidth, options.unicode) + " " +
                          padLeft(std::to_string(std::lround(share * 100)) + "%", kShareWidth),
                      labelOf(row)});
    }
    return table({{"SIZE", true}, {"FILES", true}, {"SHARE"}, {title}}, rows, options);
  };
  std::string out =
      plural(number(result, "files"), "file", "files") + ", " + bytes(total, options) + "\n\n";
  out += section("KIND", "kinds", [](const ValueMap& row) { return text(row, "kind"); });
  out += "\n" + section("EXTENSION", "extensions", [](const ValueMap& row) {
           const std::string ext = text(row, "ext");
           return (ext.empty() ? std::string("(none)") : "." + ext) + "  " + text(row, "kind");
         });
  out += "\n" + section("CHANGED", "ages", [](const ValueMap& row) {
           const auto found = kAgeLabels.find(text(row, "age"));
           return found == kAgeLabels.end() ? text(row, "age") : found->second;
         });
  return out;
}

std::string junkView(const Value& answer, const ViewOptions& options) {
  const ValueMap& result = mapOf(answer);
  std::vector<std::vector<std::string>> rows;
  for (const Value& entry : list(result, "categories")) {
    const ValueMap& category = mapOf(entry);
    const int64_t items =
        static_cast<int64_t>(list(category, "items").size()) + number(category, "unnamed");
    rows.push_back({text(category, "id"), withThousands(items),
                    bytes(number(category, "size"), options), junkLabel(text(category, "id"))});
  }
  std::string out = table({{"ID"}, {"ITEMS", true}, {"SIZE", true}, {"CATEGORY"}}, rows, options);
  out += "total " + bytes(number(result, "total"), options) + " in " +
         plural(number(result, "count"), "item", "items") + "\n";
  if (const int64_t unnamed = number(result, "unnamed"); unnamed > 0) {
    out += options.palette.warn(plural(unnamed, "item is", "items are") +
                                " counted but cannot be listed: the name is not valid UTF-8") +
           "\n";
  }
  return out;
}

std::string deletionView(const Value& answer, const ViewOptions& options) {
  const ValueMap& result = mapOf(answer);
  return "deleted for good, " + bytes(number(result, "freed"), options) + " freed\n" +
         failures(result, "removed", options);
}

std::string trashView(const Value& answer, int64_t movedBytes, const ViewOptions& options) {
  const ValueMap& result = mapOf(answer);
  const auto moved = static_cast<int64_t>(list(result, "trashed").size());
  std::string out = "moved " + plural(moved, "item", "items") + ", " + bytes(movedBytes, options) +
                    " to the Trash";
  if (moved > 0) {
    out += std::string(options.unicode ? " \u2014 " : " - ") +
           "put back with `nimbra trash restore PATH`";
  }
  return out + "\n" + failures(result, "moved", options);
}

std::string trashListView(const Value& answer, const ViewOptions& options) {
  const ValueMap& result = mapOf(answer);
  std::vector<std::vector<std::string>> rows;
  int64_t total = 0;
  for (const Value& value : list(result, "items")) {
    const ValueMap& entry = mapOf(value);
    const std::string from = text(entry, "originalPath");
    total += number(entry, "size");
    rows.push_back({localTime(number(entry, "deletedAt")), bytes(number(entry, "size"), options),
                    from.empty() ? text(entry, "path") : from});
  }
  std::string out = rows.empty() ? "" : table({{"MOVED"}, {"SIZE", true}, {"FROM"}}, rows, options);
  const auto listed = static_cast<int64_t>(rows.size());
  out += listed == 0 ? std::string("the Trash is empty")
                     : plural(listed, "entry", "entries") + ", " + bytes(total, options) +
                           " in the Trash (`nimbra trash restore PATH` puts one back)";
  out += "\n";
  if (const int64_t unnamed = number(result, "unnamed"); unnamed > 0) {
    out += options.palette.warn("and " + plural(unnamed, "entry", "entries") +
                                " not listed: the name is not valid UTF-8") +
           "\n";
  }
  return out;
}

std::string restoreView(const Value& answer, const ViewOptions& options) {
  const ValueMap& result = mapOf(answer);
  const ValueList& restored = list(result, "restored");
  std::string out;
  if (!restored.empty())
    out += "put back " + plural(static_cast<int64_t>(restored.size()), "item", "items") + ":\n";
  for (const Value& path : restored) out += "  " + printable(stringOf(path)) + "\n";
  return out + failures(result, "put back", options);
}

std::string trashEntriesNul(const Value& answer) {
  std::string out;
  for (const Value& item : list(mapOf(answer), "items")) out += text(mapOf(item), "path") + '\0';
  return out;
}

std::string largeFilePathsNul(const Value& answer) {
  std::string out;
  for (const Value& item : list(mapOf(answer), "items")) out += text(mapOf(item), "path") + '\0';
  return out;
}

std::string duplicatePathsNul(const Value& answer) {
  std::string out;
  for (const Value& group : list(mapOf(answer), "groups")) {
    for (const Value& file : list(mapOf(group), "files")) out += text(mapOf(file), "path") + '\0';
    // An empty record ends the group, as jdupes -0 prints it: without it a reader cannot tell
    // where one group ends, so it cannot keep one copy of each.
    out += '\0';
  }
  return out;
}

std::string sizesView(const std::vector<std::string>& paths, const std::vector<Value>& answers,
                      const ViewOptions& options, bool tabbed) {
  std::vector<std::vector<std::string>> rows;
  std::string lines;
  for (size_t i = 0; i < paths.size() && i < answers.size(); ++i) {
    const std::string size = bytes(number(mapOf(answers[i]), "size"), options);
    rows.push_back({size, paths[i]});
    lines += size + "\t" + printable(paths[i]) + "\n";
  }
  return tabbed ? lines : table({{"SIZE", true}, {"PATH"}}, rows, options);
}

std::vector<std::string> unreadableComplaints(const Value& answer) {
  const ValueMap& result = mapOf(answer);
  std::vector<std::string> lines;
  const ValueList& named = list(result, "unreadableFolders");
  for (const Value& entry : named) {
    const ValueMap& folder = mapOf(entry);
    lines.push_back("cannot read directory '" + printable(text(folder, "path")) +
                    "': " + text(folder, "error"));
  }
  const int64_t rest = number(result, "unreadable") - static_cast<int64_t>(named.size());
  if (rest > 0) {
    lines.push_back((named.empty() ? "" : "and ") +
                    plural(rest, named.empty() ? "folder" : "more folder",
                           named.empty() ? "folders" : "more folders") +
                    " could not be read");
  }
  return lines;
}

std::string systemView(const Value& answer, const ViewOptions& options) {
  const ValueMap& info = mapOf(answer);
  const int64_t uptime = number(info, "uptime");
  std::string out = options.palette.bold(printable(text(info, "host"))) + "  " +
                    printable(text(info, "os")) + " " + printable(text(info, "osVersion")) + " (" +
                    printable(text(info, "arch")) + ")\n" + "user    " +
                    printable(text(info, "user")) + "  " + printable(text(info, "home")) + "\n" +
                    "cpu     " + printable(text(info, "cpu")) + ", " +
                    plural(number(info, "cores"), "core", "cores") + "\n" + "memory  " +
                    bytes(number(info, "memUsed"), options) + " used of " +
                    bytes(number(info, "memTotal"), options) + "\n" + "uptime  " +
                    std::to_string(uptime / 86400) + "d " + std::to_string(uptime / 3600 % 24) +
                    "h " + std::to_string(uptime / 60 % 60) + "m\n\n";
  std::vector<std::vector<std::string>> rows;
  for (const Value& entry : list(info, "disks")) {
    const ValueMap& disk = mapOf(entry);
    const int64_t total = number(disk, "total");
    const double share =
        total > 0 ? static_cast<double>(number(disk, "used")) / static_cast<double>(total) : 0;
    rows.push_back(
        {text(disk, "name"), bytes(number(disk, "used"), options), bytes(total, options),
         bar(share, 10, options.unicode) + " " + std::to_string(std::lround(share * 100)) + "%",
         text(disk, "path") + (flag(disk, "isRemovable") ? "  (removable)" : "")});
  }
  return out + table({{"VOLUME"}, {"USED", true}, {"TOTAL", true}, {"SHARE"}, {"MOUNTED AT"}}, rows,
                     options);
}

std::string memoryView(const Value& answer, const ViewOptions& options) {
  const ValueMap& memory = mapOf(answer);
  const int64_t total = number(memory, "total");
  const double share =
      total > 0 ? static_cast<double>(number(memory, "used")) / static_cast<double>(total) : 0;
  std::string out = "used " + bytes(number(memory, "used"), options) + " of " +
                    bytes(total, options) + "  " +
                    options.palette.accent(bar(share, 20, options.unicode)) + " pressure " +
                    std::to_string(number(memory, "pressure")) + "%\n" + "free " +
                    bytes(number(memory, "free"), options) + ", cached " +
                    bytes(number(memory, "cached"), options) + ", wired " +
                    bytes(number(memory, "wired"), options) + ", compressed " +
                    bytes(number(memory, "compressed"), options) + "\n\n";
  std::vector<std::vector<std::string>> rows;
  for (const Value& entry : list(memory, "topProcesses")) {
    const ValueMap& process = mapOf(entry);
    rows.push_back({std::to_string(number(process, "pid")), bytes(number(process, "mem"), options),
                    text(process, "name")});
  }
  return out + table({{"PID", true}, {"MEMORY", true}, {"PROCESS"}}, rows, options);
}

std::string startupView(const Value& answer, const ViewOptions& options) {
  std::vector<std::vector<std::string>> rows;
  for (const Value& entry : list(mapOf(answer), "items")) {
    const ValueMap& item = mapOf(entry);
    const std::string program = text(item, "path");
    rows.push_back({text(item, "kind"), flag(item, "enabled") ? "on" : "off",
                    flag(item, "runAtLoad") ? "yes" : "no",
                    text(item, "name") + (program.empty() ? "" : "  " + program)});
  }
  if (rows.empty()) return "no startup items\n";
  return table({{"KIND"}, {"ENABLED"}, {"AT LOAD"}, {"NAME AND PROGRAM"}}, rows, options);
}

std::string appsView(const Value& answer, const ViewOptions& options) {
  std::vector<std::vector<std::string>> rows;
  int64_t total = 0;
  for (const Value& entry : list(mapOf(answer), "apps")) {
    const ValueMap& app = mapOf(entry);
    total += number(app, "size");
    rows.push_back({bytes(number(app, "size"), options), text(app, "version"), text(app, "name"),
                    text(app, "bundleId") + "  " + text(app, "path")});
  }
  if (rows.empty()) return "no applications\n";
  return table({{"SIZE", true}, {"VERSION"}, {"NAME"}, {"IDENTIFIER AND PATH"}}, rows, options) +
         plural(static_cast<int64_t>(rows.size()), "application", "applications") + ", " +
         bytes(total, options) + "\n";
}

std::string leftoversView(const Value& answer, const ViewOptions& options) {
  std::vector<std::vector<std::string>> rows;
  int64_t total = 0;
  for (const Value& entry : list(mapOf(answer), "items")) {
    const ValueMap& item = mapOf(entry);
    total += number(item, "size");
    rows.push_back({bytes(number(item, "size"), options), flag(item, "weak") ? "weak" : "",
                    text(item, "name")});
  }
  if (rows.empty()) return "no leftovers found\n";
  return table({{"SIZE", true}, {"MATCH"}, {"PATH"}}, rows, options) +
         plural(static_cast<int64_t>(rows.size()), "leftover", "leftovers") + ", " +
         bytes(total, options) + " (\"weak\": matched by the identifier's last word only)\n";
}

}  // namespace nimbra
