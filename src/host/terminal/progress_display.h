#pragma once

// The one-line progress display of `nimbra call` and the commands for people on a terminal:
// each progress event replaces the line, and the line is erased before the answer is printed.

#include <cstddef>
#include <cstdint>
#include <string>

#include "channel/value.h"
#include "host/terminal/terminal_text.h"

namespace nimbra {

// What a progress event says in words, from its task: the phase of the work and what the
// count and bytes stand for in it.
//
// The duplicate scan reports twice under one task: while it walks (count = files scanned,
// bytes always 0) and while it compares the files of each size (count = size groups done,
// bytes = space wasted so far). The events do not name the phase, so it is read from them:
// the walk's count only ever grows, so a count that falls, or bytes above 0, means the
// comparing has begun.
class ProgressLabel {
 public:
  explicit ProgressLabel(ByteUnits units = ByteUnits::decimal) : units_(units) {}

  // "measuring: 1,200 items, 3.4 MB", "hashing: 3 groups done, 1.2 MB wasted".
  std::string describe(const ValueMap& event);

  // The method whose events come next. Listing the Trash reports under the task of moving to
  // it ("trash"), which only the method tells apart.
  void expect(std::string method) { method_ = std::move(method); }

 private:
  ByteUnits units_;
  std::string method_;
  int64_t lastDuplicateCount_ = 0;
  bool comparing_ = false;
};

// The line for one event, at most `columns` wide: the label, then as much of the path as
// fits, shortened in the middle. Control characters in the path (a file name may hold
// newlines or escape sequences) are shown as '?' so they cannot move the cursor or reprogram
// the terminal.
std::string progressLine(const std::string& label, const std::string& path, size_t columns);

class ProgressDisplay {
 public:
  // Draws on `fd` (a terminal), `columns` wide; one column is kept free so the cursor never
  // wraps to a new line.
  ProgressDisplay(int fd, size_t columns, ByteUnits units = ByteUnits::decimal)
      : fd_(fd), columns_(columns), label_(units) {}

  void show(const ValueMap& event);
  // The method whose events come next (see ProgressLabel::expect).
  void expect(std::string method) { label_.expect(std::move(method)); }
  // Erases the line when something was shown; the cursor ends at the start of an empty line.
  void clear();

 private:
  int fd_;
  size_t columns_;
  bool shown_ = false;
  ProgressLabel label_;
};

}  // namespace nimbra
