#pragma once

// The codec's byte vectors (tests/data/codec_vectors.json), shared with the page's tests so
// that both codecs answer to the same bytes. The file's "about" lines describe its notation.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "channel/value.h"

namespace nimbra::test {

using Json = nlohmann::json;

// The vectors file in the source tree, parsed. Throws when it cannot be read or parsed.
Json loadCodecVectors(const std::string& path = NIMBRA_SOURCE_DIR "/tests/data/codec_vectors.json");

// The value a notation stands for. int32 and int64 both become int64_t, as the decoder gives
// them; a map whose keys are all strings a ValueMap, any other map ValuePairs in its order.
// Throws std::invalid_argument on notation it does not know (a bare JSON number, say).
Value valueFromNotation(const Json& notation);

std::vector<uint8_t> bytesFromHex(const std::string& hex);

}  // namespace nimbra::test
