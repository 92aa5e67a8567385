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

enum class ByteUnits {
  decimal,  // kB, MB, GB: powers of 1000, as file browsers count
  binary,   // KiB, MiB, GiB: powers of 1024, as du -h counts
  si,       // 1.3k, 15M, 2.0G: powers of 1000 rounded up, no space, as du --si prints for sort -h
};

// "1.2 GB" (or "1.1 GiB"): one decimal from the first unit on.
std::string formatByteCount(int64_t bytes, ByteUnits units = ByteUnits::decimal);

// "1,234": thousands separated by commas.
std::string withThousands(int64_t value);
// "1 item", "1,200 items".
std::string plural(int64_t count, const char* one, const char* many);

// A size given on the command line: plain bytes ("1048576"), decimal units ("500kB", "100MB",
// "1.5GB", "2TB"; "K", "M", "G", "T" alone mean the same) or binary ones ("1MiB", "4KiB").
// Case-insensitive, white space between number and unit allowed. Nullopt for anything else,
// a negative number, or a size beyond int64.
std::optional<int64_t> parseByteSize(std::string_view text);

// One code point as it is printed, and the terminal columns it takes: 2 for wide and
// full-width East Asian characters (most emoji among them), 0 for combining marks and
// invisible format characters, 1 for the rest.
struct Glyph {
  std::string text;
  size_t width = 1;
};

// `text` as it may be printed: control characters (C0, DEL, C1 — a file name may hold newlines
// or escape sequences) become '?', and a byte that is not part of valid UTF-8 becomes U+FFFD,
// so a name can neither move the cursor nor garble the line.
std::vector<Glyph> printableGlyphs(std::string_view text);
std::string printable(std::string_view text);
// The columns printable(text) takes in a terminal.
size_t displayWidth(std::string_view text);

// Keeps the start and the end of `path` (the folder it is in and the file's name are the
// telling parts), drops the middle for "...", and makes it printable; at most `width` columns.
std::string fitPath(std::string_view path, size_t width);

// `width` cells of a horizontal bar filled to `fraction` (0..1): eighth-block characters, or
// '#' for a terminal that cannot show them.
std::string bar(double fraction, size_t width, bool unicode = true);

// Whether the user's locale (LC_ALL, LC_CTYPE, LANG) encodes text as UTF-8, so box-drawing
// and block characters can be shown. Read without changing the process's own locale.
bool localeSpeaksUtf8();

// The width to fit lines into on the terminal `fd`: COLUMNS when it holds a positive number
// (as ls and other tools honour it), else the terminal's own width, else 80.
size_t terminalColumns(int fd);

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
