#pragma once

// Channel values read from JSON, for `nimbra call`'s arguments and `serve --json`'s lines:
// integers written without fraction or exponent become int64, every other number a double;
// objects become ValueMap, arrays ValueList. Nothing recurses per level of nesting.

#include <string_view>

#include "channel/standard_codec.h"
#include "channel/value.h"

namespace nimbra {

// Parses text that must be exactly one JSON value (surrounding white space allowed). Never
// throws; the error names what is wrong and where. Rejected as well: integers outside int64
// (they would silently lose digits as doubles), numbers too large for a double, repeated
// keys in one object (one would be dropped), and nesting deeper than kMaxNestingDepth (the
// value could not be sent on the channel).
Decoded<Value> parseJsonValue(std::string_view text);

}  // namespace nimbra
