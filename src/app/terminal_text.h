#pragma once

// Text for people at a terminal: sizes in human units, file names made safe to print, paths
// fitted to a width, bars, and colour that is only ever used where it is wanted.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbra {

// "1.2 GB": decimal units, one decimal from kilobytes on, as file browsers count.
std::string formatByteCount(int64_t bytes);

// A size given on the command line: plain bytes ("1048576"), decimal units ("500kB", "100MB",
// "1.5GB", "2TB"; "K", "M", "G", "T" alone mean the same) or binary ones ("1MiB", "4KiB").
// Case-insensitive, white space between number and unit allowed. Nullopt for anything else,
// a negative number, or a size beyond int64.
std::optional<int64_t> parseByteSize(std::string_view text);

// `text` as it may be printed: control characters (C0, DEL, C1 — a file name may hold newlines
// or escape sequences) become '?', and a byte that is not part of valid UTF-8 becomes U+FFFD,
// so a name can neither move the cursor nor garble the line. Answers code points.
std::vector<std::string> printableCodePoints(std::string_view text);
std::string printable(std::string_view text);
// The number of code points of printable(text): the columns it takes in a terminal (wide East
// Asian characters are counted as one; good enough to align tables of file names).
size_t displayWidth(std::string_view text);

// Keeps the start and the end of `path` (the folder it is in and the file's name are the
// telling parts), drops the middle for "...", and makes it printable; at most `width` columns.
std::string fitPath(std::string_view path, size_t width);

// `width` cells of a horizontal bar filled to `fraction` (0..1) with eighth-block characters.
std::string bar(double fraction, size_t width);

// Pads with spaces to `width` columns, on the right (left-aligned text) or on the left.
std::string padRight(const std::string& text, size_t width);
std::string padLeft(const std::string& text, size_t width);

// ANSI styles, applied only when `enabled` (a terminal, and NO_COLOR not set).
struct Palette {
  bool enabled = false;
  std::string bold(const std::string& text) const { return wrap("1", text); }
  std::string dim(const std::string& text) const { return wrap("2", text); }
  std::string accent(const std::string& text) const { return wrap("36", text); }
  std::string warn(const std::string& text) const { return wrap("33", text); }

 private:
  std::string wrap(const char* code, const std::string& text) const {
    return enabled ? "\x1b[" + std::string(code) + "m" + text + "\x1b[0m" : text;
  }
};

// Whether colour suits `fd`: a terminal, and NO_COLOR unset or empty (no-color.org).
bool colourWanted(int fd);

}  // namespace nimbra
