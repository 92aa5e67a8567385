#include "ops/apps/leftover_terms.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <memory>
#include <vector>

#include "base/utf8.h"

namespace nimbra {
namespace {

// Shorter names and identifier pieces ("app", "pro") would match unrelated entries.
constexpr size_t kMinTermCharacters = 4;

// A reverse-DNS identifier has at least two labels and no empty one, and names no path.
bool isPlausibleIdentifier(std::string_view id) {
  if (id.find('/') != std::string_view::npos) return false;
  return id.find('.') != std::string_view::npos && !id.starts_with('.') && !id.ends_with('.') &&
         id.find("..") == std::string_view::npos;
}

// What may stand beside an identifier in a file or folder name: "com.example.app.plist",
// "TEAMID.com.example.app", "com.example.app-helper", "com.example.app_data", "com.example.app 2".
bool isIdentifierBoundary(char c) { return c == '.' || c == '-' || c == '_' || c == ' '; }

// Whether `term` occurs in `name` as a whole run: at the start or after a boundary character,
// and at the end or before one ("com.example.apps" holds no "com.example.app").
bool holdsWhole(std::string_view name, std::string_view term) {
  for (size_t at = name.find(term); at != std::string_view::npos; at = name.find(term, at + 1)) {
    const size_t end = at + term.size();
    if ((at == 0 || isIdentifierBoundary(name[at - 1])) &&
        (end == name.size() || isIdentifierBoundary(name[end]))) {
      return true;
    }
  }
  return false;
}

std::vector<std::string_view> nonEmptyPieces(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

}  // namespace

std::optional<std::string> lowerCased(std::string_view text) {
  if (!isValidUtf8(text)) return std::nullopt;
  icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  // The root locale: the default mapping, without Turkish or Lithuanian special cases.
  unicode.toLower(icu::Locale::getRoot());
  std::string lower;
  unicode.toUTF8String(lower);
  return lower;
}

size_t characterCount(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> characters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return text.size();
  const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  characters->setText(unicode);
  size_t count = 0;
  for (characters->first(); characters->next() != icu::BreakIterator::DONE;) ++count;
  return count;
}

LeftoverTerms::LeftoverTerms(const std::string& bundleId, const std::string& name) {
  // A strong match is offered for removal with the administrator's rights. An identifier such
  // as ".plist", "com." or "com" would make one of nearly every entry of every library folder,
  // so only a plausible identifier, long enough to be telling, is looked for at all.
  const std::string idTerm = lowerCased(bundleId).value_or("");
  if (characterCount(idTerm) >= kMinTermCharacters && isPlausibleIdentifier(idTerm))
    idTerm_ = idTerm;
  const std::string nameTerm = lowerCased(name).value_or("");
  if (characterCount(nameTerm) >= kMinTermCharacters) nameTerm_ = nameTerm;
  const std::vector<std::string_view> pieces = nonEmptyPieces(idTerm, '.');
  if (pieces.size() >= 2 && characterCount(pieces.back()) >= kMinTermCharacters) {
    lastTerm_ = pieces.back();
  }
}

LeftoverMatch LeftoverTerms::match(std::string_view lowerName, bool inApplicationSupport) const {
  if (!idTerm_.empty() && holdsWhole(lowerName, idTerm_)) return LeftoverMatch::strong;
  if (!nameTerm_.empty() && lowerName.starts_with(nameTerm_)) {
    const std::string_view rest = lowerName.substr(nameTerm_.size());
    if (rest.empty() || rest.front() == '.') return LeftoverMatch::strong;
    // "Viewer Pro" may be another application's: offered, never chosen for the user.
    if (rest.front() == ' ') return LeftoverMatch::weak;
  }
  if (!lastTerm_.empty() && inApplicationSupport && lowerName == lastTerm_)
    return LeftoverMatch::weak;
  return LeftoverMatch::none;
}

}  // namespace nimbra
