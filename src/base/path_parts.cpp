#include "base/path_parts.h"

namespace nimbra {

std::string withoutTrailingSlashes(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  return path.substr(0, end);
}

PathParts splitLastComponent(const std::string& path) {
  const std::string trimmed = withoutTrailingSlashes(path);
  if (trimmed.empty() || trimmed == "/") return {trimmed, ""};
  const size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return {".", trimmed};
  return {slash == 0 ? "/" : trimmed.substr(0, slash), trimmed.substr(slash + 1)};
}

std::string withHomeAsTilde(const std::string& path, std::string_view home) {
  if (home.empty() || !path.starts_with(home)) return path;
  if (!home.ends_with('/') && path.size() > home.size() && path[home.size()] != '/') return path;
  return "~" + path.substr(home.size());
}

bool namesNoFile(std::string_view path) { return path.find('\0') != std::string_view::npos; }

}  // namespace nimbra
