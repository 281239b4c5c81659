// JSON as the protocol's messages carry it: read with each string decoded once, into a string
// of its own length, so that a document's text costs what it holds and not the working copies
// a general parser makes; written compact, with bytes that are not UTF-8 replaced.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvane::lsp {

// Arrays and objects are read to this depth; deeper ones are refused.
inline constexpr std::size_t kMaxJsonDepth = 512;

// Why a text is no JSON value, and at which byte.
struct JsonReadError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The one JSON value text holds, with white space around it; objects keep the last of keys
// that repeat. Throws JsonReadError when text is not JSON, its strings are not UTF-8, or it
// nests deeper than kMaxJsonDepth.
nlohmann::json ReadJson(std::string_view text);
// The compact JSON text of value; a string's bytes that are not UTF-8 become U+FFFD.
std::string WriteJson(const nlohmann::json& value);

}  // namespace corvane::lsp
