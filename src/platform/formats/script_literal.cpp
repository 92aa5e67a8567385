#include "platform/formats/script_literal.h"

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

std::string appleScriptList(const std::vector<std::string>& items) {
  std::string list = "{";
  for (const std::string& item : items)
    list += (list.size() > 1 ? ", \"" : "\"") + appleScriptEscaped(item) + "\"";
  return list + "}";
}

std::optional<std::vector<std::string>> readAppleScriptList(std::string_view script, size_t& pos) {
  std::vector<std::string> items;
  size_t at = pos;
  if (!script.substr(at).starts_with('{')) return std::nullopt;
  ++at;
  if (script.substr(at).starts_with('}')) {
    pos = at + 1;
    return items;
  }
  for (;;) {
    if (!script.substr(at).starts_with('"')) return std::nullopt;
    ++at;
    std::optional<std::string> item = readAppleScriptLiteral(script, at);
    if (!item) return std::nullopt;
    items.push_back(std::move(*item));
    if (script.substr(at).starts_with('}')) break;
    if (!script.substr(at).starts_with(", ")) return std::nullopt;
    at += 2;
  }
  pos = at + 1;
  return items;
}

}  // namespace nimbra
