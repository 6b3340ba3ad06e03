// JSON string literals: the escaper shared by the JSON emitter and its tests.
#pragma once

#include <string_view>

#include "encode/out_buffer.hpp"

namespace torvex {

// Appends s as a JSON string literal, quotes included. Escaped: the quote,
// the backslash, control characters (short forms where JSON has them,
// \u00XX otherwise) and U+2028/U+2029 (\u2028, \u2029); every other byte is
// copied as it is.
void append_json_string(OutBuffer& out, std::string_view s);

}  // namespace torvex
