#pragma once

// Channel values written as JSON, for the host program's `call` and `serve --json` front ends
// and the commands for people; json_parse.h reads them back. Nothing here recurses per level of
// nesting, so the deepest value the codec allows is safe.
//
// int64 is written as a JSON integer, a double always with a "." or an exponent (5.0 stays
// "5.0") so a reader can tell the two apart again. What JSON cannot say:
// - non-finite doubles (NaN, infinities) are written as null, as JavaScript's JSON.stringify
//   does: the output stays valid JSON and nothing pretends to be a number;
// - typed arrays become arrays of numbers (Bytes as integers 0..255);
// - a map with keys that are not all strings (ValuePairs) becomes an array of [key, value]
//   arrays in wire order: an object could not hold its keys;
// - strings holding invalid UTF-8 are written with U+FFFD in place of each bad sequence.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "channel/standard_codec.h"
#include "channel/value.h"

namespace nimbra {

// Which control characters a JSON string literal writes in their short forms.
enum class JsonControls {
  shortForms,  // \b \f \n \r \t, the others as \u00XX: as nlohmann writes them
  allEscaped,  // every one, and DEL, as \u00XX
};

// Appends `text` as a JSON string literal: quote, backslash and control characters escaped,
// each invalid UTF-8 sequence replaced by U+FFFD.
void appendJsonString(std::string& out, std::string_view text,
                      JsonControls controls = JsonControls::shortForms);

// One line of JSON text (no newline), UTF-8, never throwing on bad text.
std::string toJsonText(const Value& value);

// The same as a document, for code that wants to look inside.
nlohmann::json toJson(const Value& value);

// Receives JSON text piece by piece; answers false when it could not take it (a failed write).
using TextSink = std::function<bool(std::string_view piece)>;

// Writes `prefix`, then the JSON text of a reply's result when the reply is a success
// envelope, straight from the codec bytes: no Value and no JSON document is built, and the
// text goes to `write` in pieces, so a large answer costs little more than its bytes. The
// text equals toJsonText of the decoded result. An error, with nothing written, when the
// reply is not a success envelope or does not decode; otherwise whether `write` took it all.
Decoded<bool> writeSuccessAsJson(std::span<const uint8_t> reply, std::string_view prefix,
                                 const TextSink& write);

// The same text as one string.
Decoded<std::string> successAsJsonText(std::span<const uint8_t> reply);

}  // namespace nimbra
