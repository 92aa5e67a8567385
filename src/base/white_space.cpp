#include "base/white_space.h"

namespace nimbra {

std::string trimWhiteSpace(std::string text) {
  constexpr const char* kWhite = " \t\n\r\v\f";
  const size_t last = text.find_last_not_of(kWhite);
  if (last == std::string::npos) return {};
  text.erase(last + 1);
  text.erase(0, text.find_first_not_of(kWhite));
  return text;
}

}  // namespace nimbra
