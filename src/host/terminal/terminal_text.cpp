#include "host/terminal/terminal_text.h"

#include <langinfo.h>
#include <locale.h>
#include <sys/ioctl.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "base/utf8.h"

namespace nimbra {
namespace {

constexpr std::string_view kEllipsis = "...";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr size_t kFallbackColumns = 80;
constexpr int64_t kSoftHyphen = 0xAD;  // a format character that terminals do show

std::string join(const std::vector<Glyph>& glyphs, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to; ++i) out += glyphs[i].text;
  return out;
}

size_t columnsOf(UChar32 c) {
  const auto category = static_cast<UCharCategory>(u_charType(c));
  if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK ||
      (category == U_FORMAT_CHAR && c != kSoftHyphen)) {
    return 0;
  }
  const auto width = static_cast<UEastAsianWidth>(u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH));
  return width == U_EA_WIDE || width == U_EA_FULLWIDTH ? 2 : 1;
}

// The length of the UTF-8 sequence starting at text[i], or 0 when it is not a valid one.
size_t sequenceLength(std::string_view text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const size_t length = lead < 0x80    ? 1
                        : lead >= 0xF0 ? 4
                        : lead >= 0xE0 ? 3
                        : lead >= 0xC2 ? 2
                                       : 0;
  if (length == 0 || i + length > text.size()) return 0;
  return isValidUtf8(text.substr(i, length)) ? length : 0;
}

}  // namespace

namespace {

// As du --si prints a size: a whole number of bytes below 1000, else one decimal below 10 and a
// whole number above, always rounded up, and the unit's letter right after it.
std::string siByteCount(int64_t bytes) {
  static constexpr std::string_view kUnits = "kMGTPE";
  if (bytes < 1000) return std::to_string(bytes);
  const auto count = static_cast<unsigned __int128>(bytes);
  unsigned __int128 scale = 1000;
  for (size_t unit = 0;; ++unit, scale *= 1000) {
    const auto tenths = static_cast<uint64_t>((count * 10 + scale - 1) / scale);
    if (tenths < 100)
      return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + kUnits[unit];
    const auto whole = static_cast<uint64_t>((count + scale - 1) / scale);
    if (whole < 1000 || unit + 1 == kUnits.size()) return std::to_string(whole) + kUnits[unit];
  }
}

}  // namespace

std::string formatByteCount(int64_t bytes, ByteUnits units) {
  if (units == ByteUnits::si) return siByteCount(bytes);
  static constexpr std::array<const char*, 6> kDecimal{"KB", "MB", "GB", "TB", "PB", "EB"};
  static constexpr std::array<const char*, 6> kBinary{"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  const bool binary = units == ByteUnits::binary;
  const double base = binary ? 1024 : 1000;
  // The largest value that still prints below the next unit once rounded to one decimal.
  const double roundsBelowBase = base - 0.05;
  if (bytes < base && bytes > -base) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / base;
  size_t unit = 0;
  while ((value >= roundsBelowBase || value <= -roundsBelowBase) && unit + 1 < kDecimal.size()) {
    value /= base;
    ++unit;
  }
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.1f %s", value,
                binary ? kBinary[unit] : kDecimal[unit]);
  return text.data();
}

std::string withThousands(int64_t value) {
  std::string digits = std::to_string(value);
  for (int i = static_cast<int>(digits.size()) - 3; i > (value < 0 ? 1 : 0); i -= 3) {
    digits.insert(static_cast<size_t>(i), ",");
  }
  return digits;
}

std::string plural(int64_t count, const char* one, const char* many) {
  return withThousands(count) + " " + (count == 1 ? one : many);
}

std::optional<int64_t> parseByteSize(std::string_view text) {
  auto trim = [](std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
  };
  text = trim(text);
  size_t numberEnd = 0;
  while (numberEnd < text.size() &&
         (std::isdigit(static_cast<unsigned char>(text[numberEnd])) || text[numberEnd] == '.')) {
    ++numberEnd;
  }
  const std::string number(text.substr(0, numberEnd));
  if (number.empty() || number == "." || number.find('.') != number.rfind('.')) return std::nullopt;
  std::string unit(trim(text.substr(numberEnd)));
  for (char& c : unit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static constexpr std::array<std::pair<std::string_view, double>, 14> kUnits{
      {{"", 1},
       {"b", 1},
       {"k", 1e3},
       {"kb", 1e3},
       {"m", 1e6},
       {"mb", 1e6},
       {"g", 1e9},
       {"gb", 1e9},
       {"t", 1e12},
       {"tb", 1e12},
       {"kib", 1024.0},
       {"mib", 1048576.0},
       {"gib", 1073741824.0},
       {"tib", 1099511627776.0}}};
  for (const auto& [name, factor] : kUnits) {
    if (unit != name) continue;
    const bool whole = number.find('.') == std::string::npos;
    if (whole && factor == 1) {
      // Plain bytes are taken exactly, not through a double.
      char* end = nullptr;
      errno = 0;
      const long long value = std::strtoll(number.c_str(), &end, 10);
      if (errno != 0 || *end != '\0') return std::nullopt;
      return static_cast<int64_t>(value);
    }
    const double value = std::strtod(number.c_str(), nullptr) * factor;
    if (!(value < 9.2e18)) return std::nullopt;
    return static_cast<int64_t>(std::llround(value));
  }
  return std::nullopt;
}

std::vector<Glyph> printableGlyphs(std::string_view text) {
  std::vector<Glyph> glyphs;
  for (size_t i = 0; i < text.size();) {
    const size_t length = sequenceLength(text, i);
    const auto lead = static_cast<unsigned char>(text[i]);
    if (length == 0) {
      glyphs.push_back({std::string(kReplacement), 1});
      ++i;
      continue;
    }
    if (lead < 0x20 || lead == 0x7F ||
        (lead == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
      glyphs.push_back({"?", 1});  // C0, DEL and the C1 controls (U+0080..U+009F) act on terminals
    } else {
      int32_t offset = 0;
      UChar32 c = 0;
      U8_NEXT(reinterpret_cast<const uint8_t*>(text.data() + i), offset,
              static_cast<int32_t>(length), c);
      glyphs.push_back({std::string(text.substr(i, length)), columnsOf(c)});
    }
    i += length;
  }
  return glyphs;
}

std::string printable(std::string_view text) {
  const std::vector<Glyph> glyphs = printableGlyphs(text);
  return join(glyphs, 0, glyphs.size());
}

size_t displayWidth(std::string_view text) {
  size_t width = 0;
  for (const Glyph& glyph : printableGlyphs(text)) width += glyph.width;
  return width;
}

std::string fitPath(std::string_view path, size_t width) {
  const std::vector<Glyph> glyphs = printableGlyphs(path);
  size_t total = 0;
  for (const Glyph& glyph : glyphs) total += glyph.width;
  if (total <= width) return join(glyphs, 0, glyphs.size());
  // The head takes a third of what is kept and the tail the rest; a wide character that
  // would cross a budget stays out, so the result may be a column narrower than asked.
  const size_t keep = width > kEllipsis.size() ? width - kEllipsis.size() : width;
  size_t head = 0, used = 0;
  if (width > kEllipsis.size()) {
    for (; head < glyphs.size() && used + glyphs[head].width <= keep / 3; ++head)
      used += glyphs[head].width;
  }
  size_t tail = glyphs.size();
  while (tail > head && used + glyphs[tail - 1].width <= keep) used += glyphs[--tail].width;
  if (width <= kEllipsis.size()) return join(glyphs, tail, glyphs.size());
  return join(glyphs, 0, head) + std::string(kEllipsis) + join(glyphs, tail, glyphs.size());
}

std::string bar(double fraction, size_t width, bool unicode) {
  static constexpr std::array<std::string_view, 9> kEighths{
      " ", "\u258F", "\u258E", "\u258D", "\u258C", "\u258B", "\u258A", "\u2589", "\u2588"};
  static constexpr std::array<std::string_view, 9> kAsciiEighths{" ", " ", " ", " ", "#",
                                                                 "#", "#", "#", "#"};
  if (!(fraction > 0)) fraction = 0;
  if (fraction > 1) fraction = 1;
  const auto eighths = static_cast<size_t>(std::lround(fraction * static_cast<double>(width) * 8));
  std::string out;
  for (size_t cell = 0; cell < width; ++cell) {
    const size_t filled = eighths > cell * 8 ? std::min<size_t>(eighths - cell * 8, 8) : 0;
    out += unicode ? kEighths[filled] : kAsciiEighths[filled];
  }
  return out;
}

bool localeSpeaksUtf8() {
  const locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (user == static_cast<locale_t>(nullptr)) return false;  // an unknown locale is "C"
  const std::string_view codeset = ::nl_langinfo_l(CODESET, user);
  const bool utf8 = codeset == "UTF-8";
  ::freelocale(user);
  return utf8;
}

size_t terminalColumns(int fd) {
  if (const char* columns = std::getenv("COLUMNS")) {
    char* end = nullptr;
    const long value = std::strtol(columns, &end, 10);
    if (end != columns && *end == '\0' && value > 0 && value < std::numeric_limits<int>::max()) {
      return static_cast<size_t>(value);
    }
  }
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kFallbackColumns;
}

std::string padRight(const std::string& text, size_t width) {
  const size_t used = displayWidth(text);
  return used >= width ? text : text + std::string(width - used, ' ');
}

std::string padLeft(const std::string& text, size_t width) {
  const size_t used = displayWidth(text);
  return used >= width ? text : std::string(width - used, ' ') + text;
}

bool colourWanted(int fd) {
  const char* noColour = std::getenv("NO_COLOR");
  return ::isatty(fd) == 1 && (noColour == nullptr || noColour[0] == '\0');
}

}  // namespace nimbra
