#include "platform/formats/property_list_bounds.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace nimbra {
namespace {

constexpr std::string_view kBinaryMagic = "bplist00";

// The XML reader's view of a file, kept to the points where it decides what is markup: where
// a tag, a comment, a processing instruction, a doctype or a value's text begins and ends,
// with the same quoting rules. Only the nesting is counted. Wherever the scan and the reader
// could disagree, the scan refuses the file (the reader would mostly refuse it too), so a
// closing tag hidden from the reader never cancels an opening one here.
class XmlScan {
 public:
  explicit XmlScan(std::string_view text) : text_(text) {}

  bool withinBounds() {
    // Open elements, true for a container (a plist element opens no node); the containers among
    // them, plus one for a first container written empty, which the reader keeps adding to.
    std::vector<bool> open;
    size_t containers = 0;
    bool haveRoot = false;
    for (;;) {
      skipSpace();
      if (pos_ >= text_.size()) return true;
      if (text_[pos_] != '<' || ++pos_ >= text_.size()) return false;
      if (text_[pos_] == '?') {
        if (!skipPast("?>", Quotes::skip)) return false;
        continue;
      }
      if (text_[pos_] == '!') {
        if (!skipDeclaration()) return false;
        continue;
      }
      const std::optional<Tag> tag = readTag();
      if (!tag) return false;
      const bool container = tag->name == "array" || tag->name == "dict";
      if (tag->name.starts_with('/')) {
        if (open.empty()) return false;
        containers -= open.back() ? 1 : 0;
        open.pop_back();
        // The reader stops once the first container is closed; what follows is never parsed.
        if (haveRoot && containers == 0) return true;
      } else if (tag->name == "plist") {
        if (tag->empty || open.size() >= kMaxPropertyListNesting) return false;
        open.push_back(false);
      } else if (container) {
        if (containers >= kMaxPropertyListNesting) return false;
        if (!tag->empty) {
          open.push_back(true);
          ++containers;
        } else if (!haveRoot) {
          ++containers;
        }
        haveRoot = true;
      } else if (isValueTag(tag->name)) {
        if (!tag->empty && !skipValueText(tag->name)) return false;
        // A value that comes first is the whole list.
        if (!haveRoot) return true;
      } else {
        return false;
      }
    }
  }

 private:
  enum class Quotes { skip, literal };
  struct Tag {
    std::string_view name;  // "/array" for a closing tag
    bool empty;             // written as <name/>
  };

  static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
  static bool isValueTag(std::string_view name) {
    return name == "key" || name == "string" || name == "integer" || name == "real" ||
           name == "true" || name == "false" || name == "data" || name == "date";
  }
  std::string_view rest() const { return text_.substr(pos_); }

  void skipSpace() {
    while (pos_ < text_.size() && isSpace(text_[pos_])) ++pos_;
  }

  // Moves to the first of `stops` at or after the position; with Quotes::skip a double-quoted
  // run is passed over whole. False when there is none (or a quote is never closed).
  bool seek(std::string_view stops, Quotes quotes) {
    if (quotes == Quotes::literal) {
      pos_ = std::min(text_.find_first_of(stops, pos_), text_.size());
      return pos_ < text_.size();
    }
    while (pos_ < text_.size()) {
      if (text_[pos_] == '"') {
        const size_t close = text_.find('"', pos_ + 1);
        if (close == std::string_view::npos) return false;
        pos_ = close + 1;
        continue;
      }
      if (stops.find(text_[pos_]) != std::string_view::npos) return true;
      ++pos_;
    }
    return false;
  }

  // Moves just past the first `marker` at or after the position.
  bool skipPast(std::string_view marker, Quotes quotes) {
    if (quotes == Quotes::literal) {
      const size_t at = text_.find(marker, pos_);
      if (at == std::string_view::npos) return false;
      pos_ = at + marker.size();
      return true;
    }
    while (pos_ + marker.size() <= text_.size()) {
      if (rest().starts_with(marker)) {
        pos_ += marker.size();
        return true;
      }
      if (text_[pos_] == '"') {
        const size_t close = text_.find('"', pos_ + 1);
        if (close == std::string_view::npos) return false;
        pos_ = close + 1;
      } else {
        ++pos_;
      }
    }
    return false;
  }

  // After "<": a comment or the doctype. A doctype with an internal subset has no place in a
  // property list; it is refused rather than followed through its brackets.
  bool skipDeclaration() {
    if (rest().starts_with("!--")) {
      pos_ += 3;
      return skipPast("-->", Quotes::literal);
    }
    if (rest().starts_with("!DOCTYPE")) {
      pos_ += 8;
      if (!seek("[>", Quotes::skip) || text_[pos_] == '[') return false;
      ++pos_;
      return true;
    }
    return false;
  }

  // After "<": the name runs to a space, "<" or ">"; attributes (quoted values passed over) to
  // ">". A "/" just before that ">" makes the tag empty and ends the name there.
  std::optional<Tag> readTag() {
    const size_t start = pos_;
    if (!seek(" \r\n\t<>", Quotes::literal)) return std::nullopt;
    size_t length = pos_ - start;
    if (text_[pos_] != '>' && !seek("<>", Quotes::skip)) return std::nullopt;
    if (text_[pos_] != '>') return std::nullopt;
    const bool empty = text_[pos_ - 1] == '/';
    if (empty) length = std::min(length, pos_ - start - 1);
    ++pos_;
    return Tag{text_.substr(start, length), empty};
  }

  // A value's text up to its closing tag: character data, comments and CDATA sections, nothing
  // else (the reader refuses any other markup there).
  bool skipValueText(std::string_view name) {
    for (;;) {
      const size_t open = text_.find('<', pos_);
      if (open == std::string_view::npos || open + 1 >= text_.size()) return false;
      pos_ = open + 1;
      if (text_[pos_] == '/') break;
      if (text_[pos_] != '!' || ++pos_ + 1 >= text_.size()) return false;
      if (rest().starts_with("--")) {
        pos_ += 2;
        if (!skipPast("-->", Quotes::literal)) return false;
      } else if (rest().starts_with("[CDATA[") && pos_ + 9 < text_.size()) {
        pos_ += 7;
        if (!skipPast("]]>", Quotes::literal)) return false;
      } else {
        return false;
      }
    }
    ++pos_;
    if (!rest().starts_with(name) || pos_ + name.size() >= text_.size()) return false;
    pos_ += name.size();
    skipSpace();
    if (pos_ >= text_.size() || text_[pos_] != '>') return false;
    ++pos_;
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

// The binary format: "bplist00", the objects, a table of their offsets, and a 32-byte trailer
// (6 unused bytes, the width of an offset, the width of an object reference, then the object
// count, the top object and the table's offset as 64-bit big-endian numbers). An object starts
// with a marker byte: the type in the high four bits, a count in the low four (15: the count
// follows as an integer object). Arrays and sets hold that many references, dictionaries that
// many key references followed by as many value references.
class BinaryScan {
 public:
  explicit BinaryScan(std::string_view bytes) : bytes_(bytes) {}

  bool withinBounds() {
    constexpr size_t kTrailer = 32;
    if (bytes_.size() < kBinaryMagic.size() + kTrailer) return false;
    const size_t trailer = bytes_.size() - kTrailer;
    offsetWidth_ = static_cast<uint8_t>(bytes_[trailer + 6]);
    refWidth_ = static_cast<uint8_t>(bytes_[trailer + 7]);
    const uint64_t objectCount = number(trailer + 8, 8);
    const uint64_t top = number(trailer + 16, 8);
    const uint64_t table = number(trailer + 24, 8);
    if (offsetWidth_ == 0 || refWidth_ == 0 || objectCount == 0 || top >= objectCount) return false;
    if (table < kBinaryMagic.size() || table >= trailer) return false;
    // Every object in the table would be expanded at least once were it referenced; a table
    // longer than the bound is refused before anything is set aside for it.
    if (objectCount > kMaxPropertyListNodes || objectCount * offsetWidth_ > trailer - table)
      return false;
    table_ = static_cast<size_t>(table);
    objects_.assign(static_cast<size_t>(objectCount), Expansion{});
    return visit(top, 0);
  }

 private:
  enum class State : uint8_t { unseen, open, done };
  // What one object becomes in the library's tree: its nodes and their copied bytes, and how
  // many containers deep it goes (0 for a string or a number).
  struct Expansion {
    State state = State::unseen;
    uint64_t nodes = 0;
    uint64_t payload = 0;
    size_t nesting = 0;
  };

  // The big-endian number of `width` bytes at `at`; of a wider one the library reads the last 8.
  uint64_t number(size_t at, size_t width) const {
    if (width > 8) {
      at += width - 8;
      width = 8;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value = (value << 8) | static_cast<uint8_t>(bytes_[at + i]);
    return value;
  }

  // Whether `count` items of `width` bytes fit between `at` and the offset table.
  bool fits(size_t at, uint64_t count, uint64_t width) const {
    return width == 0 || count <= (table_ - at) / width;
  }

  // The object `index`, reached `depth` containers deep. Shared objects are worked out once and
  // counted again for every further reference; a reference back to an object still open is a
  // cycle, which the library refuses too.
  bool visit(uint64_t index, size_t depth) {
    if (depth > kMaxPropertyListNesting) return false;
    Expansion& object = objects_[static_cast<size_t>(index)];
    if (object.state == State::open) return false;
    if (object.state == State::unseen && !expand(index, depth)) return false;
    return depth + object.nesting <= kMaxPropertyListNesting;
  }

  bool expand(uint64_t index, size_t depth) {
    objects_[static_cast<size_t>(index)].state = State::open;
    const uint64_t offset =
        number(table_ + static_cast<size_t>(index) * offsetWidth_, offsetWidth_);
    if (offset < kBinaryMagic.size() || offset >= table_) return false;
    size_t at = static_cast<size_t>(offset);
    const uint8_t marker = static_cast<uint8_t>(bytes_[at++]);
    const uint8_t type = marker & 0xF0;
    uint64_t count = marker & 0x0F;
    const bool counted = type == 0x40 || type == 0x50 || type == 0x60 || type == 0xA0 ||
                         type == 0xC0 || type == 0xD0;
    if (counted && count == 0x0F) {
      if (at >= table_ || (static_cast<uint8_t>(bytes_[at]) & 0xF0) != 0x10) return false;
      const size_t width = size_t{1} << (static_cast<uint8_t>(bytes_[at++]) & 0x0F);
      if (width > table_ - at) return false;
      count = number(at, width);
      at += width;
    }

    Expansion expansion{State::done, 1, 0, 0};
    uint64_t references = 0;
    switch (type) {
      case 0x40:  // data, copied as is
        if (!fits(at, count, 1)) return false;
        expansion.payload = count;
        break;
      case 0x50:  // ASCII string, copied with a terminating NUL
        if (!fits(at, count, 1)) return false;
        expansion.payload = count + 1;
        break;
      case 0x60:  // UTF-16 string: 2 bytes a unit, up to 4 bytes a unit once converted
        if (!fits(at, count, 2)) return false;
        expansion.payload = 4 * (count + 1);
        break;
      case 0xA0:
      case 0xC0:
        references = count;
        expansion.nesting = 1;
        break;
      case 0xD0:
        if (count > UINT64_MAX / 2) return false;
        references = 2 * count;
        expansion.nesting = 1;
        break;
      case 0x00:
      case 0x10:
      case 0x20:
      case 0x30:
      case 0x80:  // fixed-size values
        break;
      default: return false;
    }
    if (references > 0) {
      if (!fits(at, references, refWidth_)) return false;
      for (uint64_t i = 0; i < references; ++i) {
        const uint64_t child = number(at + static_cast<size_t>(i) * refWidth_, refWidth_);
        if (child >= objects_.size() || !visit(child, depth + 1)) return false;
        const Expansion& element = objects_[static_cast<size_t>(child)];
        expansion.nodes += element.nodes;
        expansion.payload += element.payload;
        expansion.nesting = std::max(expansion.nesting, element.nesting + 1);
        if (expansion.nodes > kMaxPropertyListNodes ||
            expansion.payload > kMaxPropertyListPayloadBytes)
          return false;
      }
    }
    if (expansion.payload > kMaxPropertyListPayloadBytes) return false;
    objects_[static_cast<size_t>(index)] = expansion;
    return true;
  }

  std::string_view bytes_;
  uint8_t offsetWidth_ = 0;
  uint8_t refWidth_ = 0;
  size_t table_ = 0;
  std::vector<Expansion> objects_;
};

}  // namespace

bool isBinaryPropertyList(std::string_view bytes) { return bytes.starts_with(kBinaryMagic); }

bool withinPropertyListBounds(std::string_view bytes) {
  if (bytes.size() > kMaxPropertyListBytes) return false;
  return isBinaryPropertyList(bytes) ? BinaryScan(bytes).withinBounds()
                                     : XmlScan(bytes).withinBounds();
}

}  // namespace nimbra
