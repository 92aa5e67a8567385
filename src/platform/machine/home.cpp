#include "platform/machine/home.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace nimbra {

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  long bufferSize = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(bufferSize > 0 ? static_cast<size_t>(bufferSize) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir) {
    return found->pw_dir;
  }
  return "/";
}

std::string temporaryDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  if (!tmp || !*tmp) return "/tmp/";
  std::string dir = tmp;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir != "/") dir += '/';
  return dir;
}

}  // namespace nimbra
