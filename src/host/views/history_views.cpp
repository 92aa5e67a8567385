#include "host/views/history_views.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

namespace nimbra {
namespace {

constexpr size_t kChangeWidth = 10;
struct Glyphs {
  std::string_view branch, lastBranch, through, arrow;
};
constexpr Glyphs kUnicodeGlyphs{"\u251C\u2500 ", "\u2514\u2500 ", "\u2502  ", " \u2192 "};
constexpr Glyphs kAsciiGlyphs{"|- ", "`- ", "|  ", " -> "};

const Value kNull;

const Value& field(const Value& map, std::string_view key) {
  const ValueMap* fields = map.getIf<ValueMap>();
  if (!fields) return kNull;
  auto found = fields->find(key);
  return found == fields->end() ? kNull : found->second;
}

// Local date and time to the minute.
std::string localTime(int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm local{};
  ::localtime_r(&time, &local);
  std::array<char, 32> out{};
  std::strftime(out.data(), out.size(), "%Y-%m-%d %H:%M", &local);
  return out.data();
}

// "+1.2 GB", "-300.0 kB", "0 B".
std::string signedSize(int64_t change, const ViewOptions& options) {
  const std::string size = sizeText(change < 0 ? -change : change, options);
  return change > 0 ? "+" + size : change < 0 ? "-" + size : size;
}

std::string coloured(int64_t change, const std::string& text, const ViewOptions& options) {
  return change > 0 ? options.palette.warn(text) : change < 0 ? options.palette.accent(text) : text;
}

// The changed folders as a tree of names below the root: a folder that is listed carries its
// change; a folder that only leads to listed ones has none.
struct Branch {
  std::string name;
  const Value* change = nullptr;
  std::vector<size_t> children;  // in the order first met: the largest change first
};

std::vector<Branch> changeTree(const Value& answer, const std::string& root) {
  std::vector<Branch> branches(1);
  const std::string prefix = root == "/" ? "/" : root + "/";
  for (const Value& change : answerList(answer, "changes")) {
    const std::string whole = answerText(change, "path");
    std::string_view path = whole;
    if (!path.starts_with(prefix)) continue;
    path.remove_prefix(prefix.size());
    size_t at = 0;
    while (!path.empty()) {
      const size_t slash = std::min(path.find('/'), path.size());
      const std::string_view name = path.substr(0, slash);
      path.remove_prefix(std::min(slash + 1, path.size()));
      const auto& children = branches[at].children;
      auto found = std::find_if(children.begin(), children.end(),
                                [&](size_t child) { return branches[child].name == name; });
      if (found != children.end()) {
        at = *found;
      } else {
        branches.push_back({std::string(name), nullptr, {}});
        branches[at].children.push_back(branches.size() - 1);
        at = branches.size() - 1;
      }
    }
    branches[at].change = &change;
  }
  return branches;
}

// What a listed folder's line says after its name.
std::string changeDetail(const Value& change, const Glyphs& glyphs, const ViewOptions& options) {
  const int64_t before = answerNumber(change, "before"), after = answerNumber(change, "after");
  const std::string unreadable = answerText(change, "unreadable");
  const std::string sizes =
      sizeText(before, options) + std::string(glyphs.arrow) + sizeText(after, options);
  if (unreadable == "after") return sizes + "  could not be read in the later scan";
  if (unreadable == "before") return sizes + "  could not be read in the earlier scan";
  if (answerNumber(change, "filesBefore") == 0 && before == 0) return "new";
  if (answerNumber(change, "filesAfter") == 0 && after == 0)
    return "gone, held " + sizeText(before, options);
  return sizes;
}

struct ChangeLine {
  std::string branch, name;
  const Value* change;
};

void addLines(const std::vector<Branch>& branches, size_t at, const std::string& indent,
              const Glyphs& glyphs, std::vector<ChangeLine>& lines) {
  const std::vector<size_t>& children = branches[at].children;
  for (size_t i = 0; i < children.size(); ++i) {
    const bool last = i + 1 == children.size();
    // A folder that only leads to one other is shown with it: "a/b/".
    size_t shown = children[i];
    std::string name = branches[shown].name + "/";
    while (!branches[shown].change && branches[shown].children.size() == 1) {
      shown = branches[shown].children.front();
      name += branches[shown].name + "/";
    }
    lines.push_back({indent + std::string(last ? glyphs.lastBranch : glyphs.branch), name,
                     branches[shown].change});
    addLines(branches, shown, indent + (last ? std::string("   ") : std::string(glyphs.through)),
             glyphs, lines);
  }
}

std::string snapshotText(const Value& snapshot) {
  return "snapshot " + std::to_string(answerNumber(snapshot, "id")) + " of " +
         localTime(answerNumber(snapshot, "takenAt"));
}

}  // namespace

std::string changesView(const Value& answer, const ViewOptions& options) {
  const Glyphs& glyphs = options.unicode ? kUnicodeGlyphs : kAsciiGlyphs;
  const Value& from = field(answer, "from");
  const Value& to = field(answer, "to");
  if (from.isNull() || to.isNull()) return "";
  const std::string root = answerText(answer, "path");
  const int64_t before = answerNumber(field(answer, "size"), "before");
  const int64_t after = answerNumber(field(answer, "size"), "after");
  std::string out = options.palette.bold(printable(root)) + "  " + sizeText(before, options) +
                    std::string(glyphs.arrow) + sizeText(after, options) + "  " +
                    coloured(after - before, signedSize(after - before, options), options) + "\n";
  if (answerNumber(from, "id") == answerNumber(to, "id")) {
    return out + snapshotText(to) + " is the newest: nothing recorded since to compare it with\n";
  }
  out += options.palette.dim("since " + snapshotText(from) + ", to " + snapshotText(to)) + "\n";
  const std::vector<Branch> branches = changeTree(answer, root);
  std::vector<ChangeLine> lines;
  addLines(branches, 0, "", glyphs, lines);
  size_t nameColumn = 0;
  for (const ChangeLine& line : lines)
    nameColumn = std::max(nameColumn, displayWidth(line.branch) + displayWidth(line.name));
  const size_t room = options.columns > kChangeWidth + 30 ? options.columns - kChangeWidth - 30 : 8;
  nameColumn = std::min(nameColumn, room);
  for (const ChangeLine& line : lines) {
    const size_t branchWidth = displayWidth(line.branch);
    const size_t nameWidth = nameColumn > branchWidth + 4 ? nameColumn - branchWidth : 4;
    const int64_t change =
        line.change ? answerNumber(*line.change, "after") - answerNumber(*line.change, "before")
                    : 0;
    const std::string changeText = line.change ? signedSize(change, options) : "";
    std::string text = coloured(change, padLeft(changeText, kChangeWidth), options) + "  " +
                       options.palette.dim(line.branch) +
                       padRight(fitPath(line.name, nameWidth), nameWidth);
    if (line.change) text += "  " + changeDetail(*line.change, glyphs, options);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out += text + "\n";
  }
  if (lines.empty()) out += "no folder changed\n";
  const int64_t more = answerNumber(answer, "more");
  const int64_t unnamed = answerNumber(answer, "unnamed");
  if (more > 0) out += "and " + plural(more, "smaller change", "smaller changes") + "\n";
  if (unnamed > 0) {
    out += options.palette.warn(plural(unnamed, "change is", "changes are") +
                                " not shown: the name is not valid UTF-8") +
           "\n";
  }
  return out;
}

std::string historyView(const Value& answer, const ViewOptions& options) {
  const ValueList& snapshots = answerList(answer, "snapshots");
  std::string out;
  for (size_t i = 0; i < snapshots.size();) {
    // One folder's snapshots, newest first; listing every folder, one group after the other.
    const std::string path = answerText(snapshots[i], "path");
    size_t end = i;
    while (end < snapshots.size() && answerText(snapshots[end], "path") == path) ++end;
    std::vector<std::vector<std::string>> rows;
    for (size_t j = i; j < end; ++j) {
      const Value& snapshot = snapshots[j];
      const int64_t size = answerNumber(snapshot, "size");
      std::string change;
      if (j + 1 < end) {
        const int64_t grown = size - answerNumber(snapshots[j + 1], "size");
        change = signedSize(grown, options);
      }
      const int64_t unreadable = answerNumber(snapshot, "unreadable");
      if (unreadable > 0)
        change += (change.empty() ? "" : "  ") +
                  plural(unreadable, "folder unreadable", "folders unreadable");
      rows.push_back({std::to_string(answerNumber(snapshot, "id")),
                      localTime(answerNumber(snapshot, "takenAt")), sizeText(size, options),
                      withThousands(answerNumber(snapshot, "files")), change});
    }
    if (!path.empty())
      out += (out.empty() ? "" : "\n") + options.palette.bold(printable(path)) + "\n";
    std::vector<size_t> widths(5);
    const std::array<std::string, 5> titles = {"ID", "TAKEN", "SIZE", "FILES",
                                               "SINCE THE ONE BEFORE"};
    for (size_t c = 0; c < widths.size(); ++c) {
      widths[c] = displayWidth(titles[c]);
      for (const auto& row : rows) widths[c] = std::max(widths[c], displayWidth(row[c]));
    }
    const auto line = [&](const auto& cells) {
      std::string text = padLeft(cells[0], widths[0]) + "  " + padRight(cells[1], widths[1]) +
                         "  " + padLeft(cells[2], widths[2]) + "  " + padLeft(cells[3], widths[3]) +
                         "  " + cells[4];
      while (!text.empty() && text.back() == ' ') text.pop_back();
      return text + "\n";
    };
    const std::string header = line(titles);
    out += options.palette.bold(header.substr(0, header.size() - 1)) + "\n";
    for (const auto& row : rows) out += line(row);
    i = end;
  }
  if (snapshots.empty()) out = "no snapshots yet: `nimbra tree PATH --record` records one\n";
  if (const int64_t unnamed = answerNumber(answer, "unnamed"); unnamed > 0) {
    out += options.palette.warn(plural(unnamed, "snapshot is", "snapshots are") +
                                " not shown: the folder's name is not valid UTF-8") +
           "\n";
  }
  return out;
}

std::string forgetView(const Value& answer, const std::string& path) {
  const int64_t forgotten = answerNumber(answer, "forgotten");
  const std::string of = path.empty() ? "" : " of " + printable(path);
  if (forgotten == 0) return "no snapshot" + of + " to forget\n";
  return "forgot " + plural(forgotten, "snapshot", "snapshots") + of + "\n";
}

std::vector<std::string> historyComplaints(const Value& answer) {
  std::vector<std::string> lines;
  const Value& moved = field(answer, "historyMovedAside");
  if (!moved.isNull()) {
    lines.push_back("the disk usage history could not be used (" +
                    printable(answerText(moved, "reason")) + "); it was moved aside to " +
                    printable(answerText(moved, "path")) + " and a new one started");
  }
  if (const std::string error = answerText(answer, "recordError"); !error.empty())
    lines.push_back("not recorded: " + printable(error));
  if (const std::string error = answerText(answer, "error"); !error.empty())
    lines.push_back(printable(error));
  return lines;
}

std::optional<int64_t> parseLocalDate(std::string_view text) {
  std::tm local{};
  char separator = 0;
  int consumed = 0;
  const std::string copy(text);
  const int fields = std::sscanf(
      copy.c_str(), "%4d-%2d-%2d%n%c%2d:%2d%n:%2d%n", &local.tm_year, &local.tm_mon, &local.tm_mday,
      &consumed, &separator, &local.tm_hour, &local.tm_min, &consumed, &local.tm_sec, &consumed);
  const bool dateOnly = fields == 3;
  const bool withTime = fields >= 6 && (separator == ' ' || separator == 'T');
  if ((!dateOnly && !withTime) || consumed != static_cast<int>(copy.size())) return std::nullopt;
  if (local.tm_mon < 1 || local.tm_mon > 12 || local.tm_mday < 1 || local.tm_mday > 31 ||
      local.tm_hour > 23 || local.tm_min > 59 || local.tm_sec > 60)
    return std::nullopt;
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  const std::time_t time = std::mktime(&local);
  if (time == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(time);
}

std::optional<int64_t> snapshotSince(const Value& history, int64_t time) {
  std::optional<int64_t> chosen;
  int64_t chosenAt = 0;
  // The last taken at or before `time`; failing that, the first after it.
  for (const Value& snapshot : answerList(history, "snapshots")) {
    const int64_t at = answerNumber(snapshot, "takenAt");
    // Newest first: of snapshots taken in the same second, the older is met later.
    const bool better = !chosen || (at <= time ? chosenAt > time || at > chosenAt
                                               : chosenAt > time && at <= chosenAt);
    if (better) {
      chosen = answerNumber(snapshot, "id");
      chosenAt = at;
    }
  }
  return chosen;
}

}  // namespace nimbra
