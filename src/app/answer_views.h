#pragma once

// What the commands for people print: each view takes a method's answer, exactly as it came
// through the channel, and turns it into lines for a terminal. Nothing here runs an operation;
// a key that is missing or of another type shows as empty or 0, never as a crash. Whether the
// work was cancelled is the caller's to say (on stderr), so stdout stays the answer alone.

#include <cstddef>
#include <string>
#include <vector>

#include "app/terminal_text.h"
#include "channel/value.h"

namespace nimbra {

struct ViewOptions {
  size_t columns = 80;      // the terminal's width; lines never exceed it
  bool exactBytes = false;  // sizes as exact integers instead of "1.2 GB"
  Palette palette{};
};

// "analyzeDisk": an indented tree, each line with the size, a bar and the share of its parent.
std::string treeView(const Value& answer, const ViewOptions& options);
// "scanLargeFiles": size, modified, path; a summary line.
std::string largeFilesView(const Value& answer, const ViewOptions& options);
// "scanDuplicates": each group with its copies and what it wastes; the total at the end.
std::string duplicatesView(const Value& answer, const ViewOptions& options);
// "scanJunk": the categories with their ids, labels, item counts and sizes; the total.
std::string junkView(const Value& answer, const ViewOptions& options);
// "deleteItems" after `junk clean`: what was freed and every failure.
std::string deletionView(const Value& answer, const ViewOptions& options);
// "sizeOf" for each of `paths`, answers in the same order.
std::string sizesView(const std::vector<std::string>& paths, const std::vector<Value>& answers,
                      const ViewOptions& options);
// "systemInfo", "memoryInfo", "listStartupItems", "listApps", "appLeftovers".
std::string systemView(const Value& answer, const ViewOptions& options);
std::string memoryView(const Value& answer, const ViewOptions& options);
std::string startupView(const Value& answer, const ViewOptions& options);
std::string appsView(const Value& answer, const ViewOptions& options);
std::string leftoversView(const Value& answer, const ViewOptions& options);

// The label people read beside a junk category's id ("userCache" -> "User caches").
std::string junkLabel(const std::string& id);

}  // namespace nimbra
