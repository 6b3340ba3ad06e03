// Text of a double for the emitters. Both forms start from the shortest
// digit string that reads back to the same double.
#pragma once

#include <cstddef>

namespace torvex {

// Enough for every finite double written without exponent (5e-324 needs 326
// bytes, DBL_MAX 311) and for every special spelling.
inline constexpr std::size_t kFloatTextMax = 400;

// YAML: ".nan", ".inf", "-.inf"; plain decimal for decimal exponents -4..15,
// otherwise "d.ddde+XX". Always has a "." so that it reads back as a float
// under YAML 1.1 and 1.2 alike. Returns the length written to `out`.
std::size_t yaml_float_text(double value, char* out) noexcept;

// JSON: "null" when not finite; otherwise the shortest digits written
// without exponent, with ".0" appended when there is no ".".
std::size_t json_float_text(double value, char* out) noexcept;

}  // namespace torvex
