#pragma once

// The one-line progress display `nimbra call` shows on a terminal: each progress event
// replaces the line, and the line is erased before the answer is printed.

#include <cstddef>
#include <cstdint>
#include <string>

#include "channel/value.h"

namespace nimbra {

// The line for one progress event, at most `columns` characters (code points) wide: task,
// count, bytes, then as much of the path as fits, shortened in the middle. Control characters
// in the path (a file name may hold newlines or escape sequences) are shown as '?' so they
// cannot move the cursor or reprogram the terminal.
std::string progressLine(const ValueMap& event, size_t columns);

// The terminal width of `fd`, or 80 when it has none.
size_t terminalColumns(int fd);

class ProgressDisplay {
 public:
  // Draws on `fd` (a terminal), `columns` wide; one column is kept free so the cursor never
  // wraps to a new line.
  ProgressDisplay(int fd, size_t columns) : fd_(fd), columns_(columns) {}

  void show(const ValueMap& event);
  // Erases the line when something was shown; the cursor ends at the start of an empty line.
  void clear();

 private:
  int fd_;
  size_t columns_;
  bool shown_ = false;
};

}  // namespace nimbra
