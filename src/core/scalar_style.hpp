// How a scalar was written in the source.
#pragma once

#include <cstdint>

namespace torvex {

enum class ScalarStyle : std::uint8_t { Plain, SingleQuoted, DoubleQuoted, Literal, Folded };

}  // namespace torvex
