#pragma once

// What the commands for people print: each view takes a method's answer, exactly as it came
// through the channel, and turns it into lines for a terminal. Nothing here runs an operation;
// a key that is missing or of another type shows as empty or 0, never as a crash. Whether the
// work was cancelled is the caller's to say (on stderr), so stdout stays the answer alone.

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "channel/value.h"
#include "host/terminal/terminal_text.h"

namespace nimbra {

// The width of output that is not a terminal's: nothing is shortened for a reader that is a
// program. Half the range, so the views may add to it.
inline constexpr size_t kUnlimitedColumns = std::numeric_limits<size_t>::max() / 2;

struct ViewOptions {
  size_t columns = 80;      // the terminal's width; lines never exceed it
  bool exactBytes = false;  // sizes as exact integers instead of "1.2 GB"
  ByteUnits units = ByteUnits::decimal;
  bool unicode = true;  // box-drawing and block characters; ASCII stand-ins otherwise
  Palette palette{};
};

// Fields of an answer read leniently, as the views read them: a missing key, or a value of
// another type, gives an empty list, "", 0 or false.
const ValueList& answerList(const Value& answer, std::string_view key);
std::string answerText(const Value& answer, std::string_view key);
int64_t answerNumber(const Value& answer, std::string_view key);
bool answerFlag(const Value& answer, std::string_view key);

// A size as the options want it: "1.2 GB", "1.1 GiB" or "1234567".
std::string sizeText(int64_t bytes, const ViewOptions& options);

// "analyzeDisk": an indented tree, each line with the size, a bar and the share of its parent.
std::string treeView(const Value& answer, const ViewOptions& options);
// "scanLargeFiles": size, modified, path; a summary line.
std::string largeFilesView(const Value& answer, const ViewOptions& options);
// "scanDuplicates": each group with its copies and what it wastes; the total at the end.
std::string duplicatesView(const Value& answer, const ViewOptions& options);
// "fileStats": the kinds, the largest extensions and the ages, each with its size, files and a
// bar of its share of the whole.
std::string typesView(const Value& answer, const ViewOptions& options);
// "scanJunk": the categories with their ids, labels, item counts and sizes; the total.
std::string junkView(const Value& answer, const ViewOptions& options);
// "deleteItems" after `junk clean`, "emptyTrash" after `trash empty`: that it is for good, what
// was freed, and every failure.
std::string deletionView(const Value& answer, const ViewOptions& options);
// "trashItems" after `junk clean --trash`: where the items went (`bytes` of them, as the scan
// measured), how to get them back, and every failure.
std::string trashView(const Value& answer, int64_t bytes, const ViewOptions& options);
// "listTrash": when each entry was moved, its size and where it came from (an entry with no
// record shows where it is); how many and how much in all.
std::string trashListView(const Value& answer, const ViewOptions& options);
// "restoreItems": where each entry went back to, and every failure.
std::string restoreView(const Value& answer, const ViewOptions& options);
// "sizeOf" for each of `paths`, answers in the same order: a table, or for scripts (`tabbed`)
// du's lines, "SIZE<tab>PATH" with no header and no space inside a figure, for `sort -h`.
std::string sizesView(const std::vector<std::string>& paths, const std::vector<Value>& answers,
                      const ViewOptions& options, bool tabbed = false);

// What an answer could not read, as du says it: "cannot read directory 'PATH': Permission
// denied" for each folder it names, then "and N more folders could not be read" for the rest.
// Empty when it read everything.
std::vector<std::string> unreadableComplaints(const Value& answer);
// "systemInfo", "memoryInfo", "listStartupItems", "listApps", "appLeftovers".
std::string systemView(const Value& answer, const ViewOptions& options);
std::string memoryView(const Value& answer, const ViewOptions& options);
std::string startupView(const Value& answer, const ViewOptions& options);
std::string appsView(const Value& answer, const ViewOptions& options);
std::string leftoversView(const Value& answer, const ViewOptions& options);

// For `-0`: the paths of "scanLargeFiles" (largest first), or of every copy in
// "scanDuplicates" (group after group), each followed by a NUL byte, for `xargs -0`; each group
// of copies ends with an empty record (a second NUL byte).
std::string largeFilePathsNul(const Value& answer);
// For `trash -0`: where each entry of "listTrash" is now, in the Trash, newest first.
std::string trashEntriesNul(const Value& answer);
std::string duplicatePathsNul(const Value& answer);

// The label people read beside a junk category's id ("userCache" -> "User caches").
std::string junkLabel(const std::string& id);

}  // namespace nimbra
