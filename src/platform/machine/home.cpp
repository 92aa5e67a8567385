#include "platform/machine/home.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "base/path_parts.h"

namespace nimbra {
namespace {

// The fields of the current user's password entry that are read here.
struct Account {
  std::string name;
  std::string gecos;                // "" when the entry has none
  std::optional<std::string> home;  // absent when the entry has none
};

std::optional<Account> currentAccount() {
  const long bufferSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(bufferSize > 0 ? static_cast<size_t>(bufferSize) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return std::nullopt;
  Account account{found->pw_name, found->pw_gecos ? found->pw_gecos : "", std::nullopt};
  if (found->pw_dir) account.home = found->pw_dir;
  return account;
}

}  // namespace

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (std::optional<Account> account = currentAccount(); account && account->home)
    return *account->home;
  return "/";
}

std::string fullUserName() {
  const std::optional<Account> account = currentAccount();
  if (!account) return {};
  const std::string gecos = account->gecos.substr(0, account->gecos.find(','));
  return gecos.empty() ? account->name : gecos;
}

std::string stateDirectory() {
  // A relative value is invalid by the rules and must be ignored.
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
    const std::string folder = withoutTrailingSlashes(state);
    return folder == "/" ? "" : folder;
  }
  const std::string home = withoutTrailingSlashes(homeDirectory());
  return (home == "/" ? "" : home) + "/.local/state";
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
