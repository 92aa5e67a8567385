#include "platform/machine/machine_identity.h"

#include <sstream>

#include "base/sha256.h"
#include "base/white_space.h"

namespace nimbra {
namespace {

constexpr std::string_view kPrettyHostnameKey = "PRETTY_HOSTNAME=";
constexpr std::string_view kSeedPrefix = "vexolan:";
constexpr size_t kIdentifierHexDigits = 40;

// Removes one level of shell quoting: '...' is literal; inside "..." a backslash escapes only
// $ ` " \ and a newline; outside quotes it escapes any character. Unquoted trailing blanks go.
std::string unquoteShellWord(std::string_view value) {
  std::string text;
  size_t keep = 0;  // length of text up to its last quoted or non-blank character
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\'') {
      const size_t end = value.find('\'', i + 1);
      const size_t stop = end == std::string_view::npos ? value.size() : end;
      text.append(value.substr(i + 1, stop - i - 1));
      i = stop;
      keep = text.size();
    } else if (c == '"') {
      for (++i; i < value.size() && value[i] != '"'; ++i) {
        if (value[i] == '\\' && i + 1 < value.size() &&
            std::string_view("$`\"\\\n").find(value[i + 1]) != std::string_view::npos) {
          ++i;
        }
        text += value[i];
      }
      keep = text.size();
    } else if (c == '\\' && i + 1 < value.size()) {
      text += value[++i];
      keep = text.size();
    } else {
      text += c;
      if (c != ' ' && c != '\t') keep = text.size();
    }
  }
  text.resize(keep);
  return text;
}

std::string trimmedFile(MachineSources& sources, const std::string& path) {
  return trimWhiteSpace(sources.readFile(path).value_or(""));
}

}  // namespace

std::string prettyHostname(std::string_view machineInfo) {
  std::istringstream lines{std::string(machineInfo)};
  std::string line, name;
  while (std::getline(lines, line)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos ||
        line.compare(start, kPrettyHostnameKey.size(), kPrettyHostnameKey) != 0) {
      continue;
    }
    name = unquoteShellWord(std::string_view(line).substr(start + kPrettyHostnameKey.size()));
  }
  return name;
}

std::string computerName(MachineSources& sources) {
  std::string name = prettyHostname(sources.readFile("/etc/machine-info").value_or(""));
  return name.empty() ? sources.hostName() : name;
}

std::string hardwareUuid(MachineSources& sources) {
  std::string uuid = trimmedFile(sources, "/etc/machine-id");
  return uuid.empty() ? trimmedFile(sources, "/var/lib/dbus/machine-id") : uuid;
}

std::string deviceIdentifierFor(const std::string& uuidText) {
  const std::string seed = std::string(kSeedPrefix) + uuidText;
  return "mac-" + sha256Of(seed.data(), seed.size()).hex().substr(0, kIdentifierHexDigits);
}

}  // namespace nimbra
