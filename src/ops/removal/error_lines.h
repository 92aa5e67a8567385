#pragma once

#include <string>
#include <vector>

namespace nimbra {

// The "error" text of an answer that removes or moves items: the platform's descriptions of
// the first failures, one per line. Bounded, so a thousand failing items still make a short
// answer; "failed" names them all.
class ErrorLines {
 public:
  static constexpr size_t kMaxItemLines = 3;

  // The failure of one item; kept while fewer than kMaxItemLines are held.
  void noteItem(const std::string& line) {
    if (lines_.size() < kMaxItemLines) lines_.push_back(line);
  }
  // A failure of the whole step (the administrator's), kept whatever the count.
  void noteStep(const std::string& line) { lines_.push_back(line); }

  // The lines joined with "\n", none at the end; "" without failures.
  std::string text() const {
    std::string joined;
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (i > 0) joined += '\n';
      joined += lines_[i];
    }
    return joined;
  }

 private:
  std::vector<std::string> lines_;
};

}  // namespace nimbra
