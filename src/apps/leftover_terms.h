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

  // How the entry named `lowerName` (already lower-cased) matches; the weak rule holds only
  // in a folder named "Application Support".
  LeftoverMatch match(std::string_view lowerName, bool inApplicationSupport) const;

 private:
  std::string idTerm_;    // the lower-cased identifier, found anywhere in a name; "" when too short
  std::string nameTerm_;  // the lower-cased name, "" when too short to be telling
  std::string lastTerm_;  // the identifier's last piece, "" when too short or there is none
};

}  // namespace nimbra
