#include "base/errno_text.h"

#include <string.h>

namespace nimbra {

std::string errnoText(int code) {
  char buffer[256];
  // The GNU variant: answers either the static text or `buffer`.
  return ::strerror_r(code, buffer, sizeof buffer);
}

std::string pathErrorText(const std::string& path, int code) {
  return path + ": " + errnoText(code);
}

}  // namespace nimbra
