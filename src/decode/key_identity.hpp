// Key identity and diagnostic rendering of values, for duplicate-key
// detection and merge keys.
#pragma once

#include <cstdint>
#include <string>

#include "decode/value.hpp"

namespace torvex {

// A canonical text that is equal for equal keys and different for different
// ones: same variant and same content, recursively. Int 1 and Float 1.0 are
// different keys; floats compare by bit pattern, so NaN keys are equal to themselves.
std::string key_identity(const Value& key);

// The text a duplicate-key message shows: the string itself for a String
// key, otherwise the variant name with its payload: Int(1), Bool(true), Null,
// Sequence([Int(1), String("a")]).
std::string key_diagnostic(const Value& key);

// The warning for a duplicate key at a 0-based position, when the last value is kept.
std::string duplicate_key_warning(const Value& key, std::uint32_t line, std::uint32_t column);

}  // namespace torvex
