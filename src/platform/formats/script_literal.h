#pragma once

// Building and reading the string literals of the scripts the service sends: a path placed in
// an administrator shell command is shell-quoted first, then escaped for the script literal.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbra {

// One shell word that stands for exactly `text`: every "'" becomes '\'' and the whole is put
// in single quotes, so nothing inside ($(), backquotes, spaces, newlines) is interpreted.
std::string shellQuoted(std::string_view text);

// The body of a script string literal for `text`: backslashes doubled first, then every
// double quote preceded by a backslash.
std::string appleScriptEscaped(std::string_view text);

// Reads the literal body that starts at script[pos] (just after its opening double quote)
// up to its closing quote, undoing appleScriptEscaped. On success `pos` is left just past
// the closing quote. Nullopt when the literal is unterminated or holds another escape.
std::optional<std::string> readAppleScriptLiteral(std::string_view script, size_t& pos);

// A list of strings in the script language's source form, as the system's runner prints a
// result in that form: {"a", "b \"c\""}; "{}" when empty.
std::string appleScriptList(const std::vector<std::string>& items);

// Reads such a list starting at script[pos] (its opening brace). On success `pos` is left just
// past its closing brace. Nullopt when what is there is not a list of string literals.
std::optional<std::vector<std::string>> readAppleScriptList(std::string_view script, size_t& pos);

}  // namespace nimbra
