#include "app/terminal_text.h"

#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/utf8.h"

namespace nimbra {
namespace {

constexpr std::string_view kEllipsis = "...";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

std::string join(const std::vector<std::string>& points, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to; ++i) out += points[i];
  return out;
}

// The length of the UTF-8 sequence starting at text[i], or 0 when it is not a valid one.
size_t sequenceLength(std::string_view text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  return isValidUtf8(text.substr(i, length)) ? length : 0;
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

std::optional<int64_t> parseByteSize(std::string_view text) {
  auto trim = [](std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
  };
  text = trim(text);
  size_t numberEnd = 0;
  while (numberEnd < text.size() && (std::isdigit(static_cast<unsigned char>(text[numberEnd])) || text[numberEnd] == '.')) {
    ++numberEnd;
  }
  const std::string number(text.substr(0, numberEnd));
  if (number.empty() || number == "." || number.find('.') != number.rfind('.')) return std::nullopt;
  std::string unit(trim(text.substr(numberEnd)));
  for (char& c : unit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static constexpr std::array<std::pair<std::string_view, double>, 14> kUnits{{
      {"", 1},          {"b", 1},          {"k", 1e3},         {"kb", 1e3},        {"m", 1e6},
      {"mb", 1e6},      {"g", 1e9},        {"gb", 1e9},        {"t", 1e12},        {"tb", 1e12},
      {"kib", 1024.0},  {"mib", 1048576.0}, {"gib", 1073741824.0}, {"tib", 1099511627776.0}}};
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

std::vector<std::string> printableCodePoints(std::string_view text) {
  std::vector<std::string> points;
  for (size_t i = 0; i < text.size();) {
    const size_t length = sequenceLength(text, i);
    const auto lead = static_cast<unsigned char>(text[i]);
    if (length == 0) {
      points.emplace_back(kReplacement);
      ++i;
      continue;
    }
    if (lead < 0x20 || lead == 0x7F || (lead == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
      points.emplace_back("?");  // C0, DEL and the C1 controls (U+0080..U+009F) act on terminals
    } else {
      points.emplace_back(text.substr(i, length));
    }
    i += length;
  }
  return points;
}

std::string printable(std::string_view text) {
  const std::vector<std::string> points = printableCodePoints(text);
  return join(points, 0, points.size());
}

size_t displayWidth(std::string_view text) { return printableCodePoints(text).size(); }

std::string fitPath(std::string_view path, size_t width) {
  const std::vector<std::string> points = printableCodePoints(path);
  if (points.size() <= width) return join(points, 0, points.size());
  if (width <= kEllipsis.size()) return join(points, points.size() - width, points.size());
  const size_t keep = width - kEllipsis.size();
  const size_t head = keep / 3;
  const size_t tail = keep - head;
  return join(points, 0, head) + std::string(kEllipsis) + join(points, points.size() - tail, points.size());
}

std::string bar(double fraction, size_t width) {
  static constexpr std::array<std::string_view, 9> kEighths{" ", "\u258F", "\u258E", "\u258D", "\u258C",
                                                            "\u258B", "\u258A", "\u2589", "\u2588"};
  if (!(fraction > 0)) fraction = 0;
  if (fraction > 1) fraction = 1;
  const auto eighths = static_cast<size_t>(std::lround(fraction * static_cast<double>(width) * 8));
  std::string out;
  for (size_t cell = 0; cell < width; ++cell) {
    const size_t filled = eighths > cell * 8 ? std::min<size_t>(eighths - cell * 8, 8) : 0;
    out += kEighths[filled];
  }
  return out;
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
