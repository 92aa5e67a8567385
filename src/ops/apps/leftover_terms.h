#pragma once

// How an application's leftovers are recognised by name. Every comparison is between
// lower-cased texts (full Unicode lower-casing, so "É" and "Ÿ" fold like ASCII letters do);
// lengths are counted in user-perceived characters (grapheme clusters), not bytes.

#include <optional>
#include <string>
#include <string_view>

namespace nimbra {

// The full Unicode lower-casing of UTF-8 `text`; nullopt when it is not valid UTF-8.
std::optional<std::string> lowerCased(std::string_view text);
// Grapheme clusters in valid UTF-8 `text`.
size_t characterCount(std::string_view text);

enum class LeftoverMatch { none, strong, weak };

class LeftoverTerms {
 public:
  LeftoverTerms(const std::string& bundleId, const std::string& name);

  // How the entry named `lowerName` (already lower-cased) matches, the first rule that holds
  // deciding: the identifier standing whole in the name (strong); the name alone or before a "."
  // (strong); the name before a space and more words, as "Viewer Pro" for "Viewer" (weak); the
  // identifier's last piece as the whole name, in a folder named "Application Support" (weak).
  LeftoverMatch match(std::string_view lowerName, bool inApplicationSupport) const;

 private:
  // The lower-cased identifier when it looks like one (see the constructor); "" otherwise.
  std::string idTerm_;
  std::string nameTerm_;  // the lower-cased name, "" when too short to be telling
  std::string lastTerm_;  // the identifier's last piece, "" when too short or there is none
};

}  // namespace nimbra
