#include "platform/applescript_literal.h"

namespace nimbra {

std::string shellQuoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

std::string appleScriptEscaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::optional<std::string> readAppleScriptLiteral(std::string_view script, size_t& pos) {
  std::string text;
  for (size_t i = pos; i < script.size(); ++i) {
    const char c = script[i];
    if (c == '"') {
      pos = i + 1;
      return text;
    }
    if (c == '\\') {
      if (i + 1 >= script.size()) return std::nullopt;
      const char next = script[++i];
      if (next != '\\' && next != '"') return std::nullopt;
      text += next;
      continue;
    }
    text += c;
  }
  return std::nullopt;
}

}  // namespace nimbra
