#include "app/progress_display.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string_view>
#include <vector>

#include "app/fd_io.h"

namespace nimbra {
namespace {

constexpr size_t kFallbackColumns = 80;
constexpr std::string_view kEraseLine = "\r\x1b[K";
constexpr std::string_view kEllipsis = "...";

// Splits UTF-8 text into code points (a stray byte counts as one), replacing control
// characters with '?'.
std::vector<std::string> printableCodePoints(std::string_view text) {
  std::vector<std::string> points;
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 1;
    if (lead >= 0xF0) {
      length = 4;
    } else if (lead >= 0xE0) {
      length = 3;
    } else if (lead >= 0xC0) {
      length = 2;
    }
    if (i + length > text.size()) length = 1;
    if (lead < 0x20 || lead == 0x7F) {
      points.emplace_back("?");
    } else if (length == 2 && static_cast<unsigned char>(text[i + 1]) < 0xA0 && lead == 0xC2) {
      points.emplace_back("?");  // C1 controls (U+0080..U+009F) act on terminals too
    } else {
      points.emplace_back(text.substr(i, length));
    }
    i += length;
  }
  return points;
}

std::string join(const std::vector<std::string>& points, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to; ++i) out += points[i];
  return out;
}

// Keeps the start and the end of `path` (the folder it is in and the file's name are the
// telling parts) and drops the middle.
std::string fitPath(std::string_view path, size_t width) {
  const std::vector<std::string> points = printableCodePoints(path);
  if (points.size() <= width) return join(points, 0, points.size());
  if (width <= kEllipsis.size()) return join(points, points.size() - width, points.size());
  const size_t keep = width - kEllipsis.size();
  const size_t head = keep / 3;
  const size_t tail = keep - head;
  return join(points, 0, head) + std::string(kEllipsis) +
         join(points, points.size() - tail, points.size());
}

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

std::string formatByteCount(int64_t bytes) {
  static constexpr std::array<const char*, 6> kUnits{"KB", "MB", "GB", "TB", "PB", "EB"};
  if (bytes < 1000 && bytes > -1000) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  value /= 1000;
  while ((value >= 999.95 || value <= -999.95) && unit + 1 < kUnits.size()) {
    value /= 1000;
    ++unit;
  }
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.1f %s", value, kUnits[unit]);
  return text.data();
}

std::string progressLine(const ValueMap& event, size_t columns) {
  const std::vector<std::string> task = printableCodePoints(stringEntry(event, "task"));
  const std::string summary = join(task, 0, task.size()) + ": " +
                              std::to_string(intEntry(event, "count")) + " items, " +
                              formatByteCount(intEntry(event, "bytes"));
  const std::vector<std::string> summaryPoints = printableCodePoints(summary);
  if (summaryPoints.size() >= columns) return join(summaryPoints, 0, columns);
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
