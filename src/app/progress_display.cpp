#include "app/progress_display.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string_view>
#include <vector>

#include "app/fd_io.h"
#include "app/terminal_text.h"

namespace nimbra {
namespace {

constexpr size_t kFallbackColumns = 80;
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

std::string progressLine(const ValueMap& event, size_t columns) {
  const std::string summary = printable(stringEntry(event, "task")) + ": " +
                              std::to_string(intEntry(event, "count")) + " items, " +
                              formatByteCount(intEntry(event, "bytes"));
  const std::vector<std::string> summaryPoints = printableCodePoints(summary);
  if (summaryPoints.size() >= columns) return fitPath(summary, columns);
  const std::string path = stringEntry(event, "path");
  constexpr std::string_view kGap = "  ";
  if (path.empty() || summaryPoints.size() + kGap.size() >= columns) return summary;
  return summary + std::string(kGap) + fitPath(path, columns - summaryPoints.size() - kGap.size());
}

size_t terminalColumns(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kFallbackColumns;
}

void ProgressDisplay::show(const ValueMap& event) {
  const size_t usable = columns_ > 1 ? columns_ - 1 : 1;
  std::string text(kEraseLine);
  text += progressLine(event, usable);
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
