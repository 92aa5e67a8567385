#include "host/terminal/progress_display.h"

#include <string_view>

#include "base/fd_io.h"
#include "host/terminal/terminal_text.h"

namespace nimbra {
namespace {

constexpr std::string_view kEraseLine = "\r\x1b[K";

int64_t intEntry(const ValueMap& event, const std::string& key) {
  auto found = event.find(key);
  if (found == event.end()) return 0;
  return intValue(found->second).value_or(0);
}

std::string stringEntry(const ValueMap& event, const std::string& key) {
  auto found = event.find(key);
  if (found == event.end()) return "";
  const std::string* text = found->second.getIf<std::string>();
  return text ? *text : "";
}

}  // namespace

std::string ProgressLabel::describe(const ValueMap& event) {
  const std::string task = stringEntry(event, "task");
  const int64_t count = intEntry(event, "count");
  const std::string bytes = formatByteCount(intEntry(event, "bytes"), units_);
  if (task == "dupes") {
    comparing_ = comparing_ || count < lastDuplicateCount_ || intEntry(event, "bytes") > 0;
    lastDuplicateCount_ = count;
    if (comparing_)
      return "hashing: " + plural(count, "group", "groups") + " done, " + bytes + " wasted";
    return "looking for duplicates: " + plural(count, "file", "files") + " scanned";
  }
  if (task == "disk") return "measuring: " + plural(count, "item", "items") + ", " + bytes;
  if (task == "large")
    return "looking for large files: " + plural(count, "file", "files") + " scanned, " + bytes;
  if (task == "junk") return "looking for junk: " + plural(count, "item", "items") + ", " + bytes;
  if (task == "delete")
    return "deleting: " + plural(count, "item", "items") + ", " + bytes + " freed";
  if (task == "trash" && method_ == "listTrash")
    return "reading the Trash: " + plural(count, "item", "items") + ", " + bytes;
  if (task == "trash") return "moving to the Trash: " + plural(count, "item", "items");
  if (task == "restore") return "putting back: " + plural(count, "item", "items") + ", " + bytes;
  if (task == "apps") return "reading applications: " + withThousands(count) + " found";
  return printable(task) + ": " + plural(count, "item", "items") + ", " + bytes;
}

std::string progressLine(const std::string& label, const std::string& path, size_t columns) {
  const size_t labelWidth = displayWidth(label);
  if (labelWidth >= columns) return fitPath(label, columns);
  constexpr std::string_view kGap = "  ";
  if (path.empty() || labelWidth + kGap.size() >= columns) return label;
  return label + std::string(kGap) + fitPath(path, columns - labelWidth - kGap.size());
}

void ProgressDisplay::show(const ValueMap& event) {
  const size_t usable = columns_ > 1 ? columns_ - 1 : 1;
  std::string text(kEraseLine);
  text += progressLine(label_.describe(event), stringEntry(event, "path"), usable);
  // A display that cannot be drawn is no reason to stop the work it shows.
  (void)writeAll(fd_, text);
  shown_ = true;
}

void ProgressDisplay::clear() {
  if (!shown_) return;
  (void)writeAll(fd_, kEraseLine);
  shown_ = false;
}

}  // namespace nimbra
