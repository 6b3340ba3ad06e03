// Numbers as the validator compares and writes them: big integers (decimal
// source text, YAML 1.1 underscores allowed) read as doubles or normalised to
// their digits, integers compared exactly with doubles, and limits written in
// the shortest decimal form without exponent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvex::schema {

// The double nearest to a big integer's text; nothing when the text is no
// decimal integer or the value overflows the double range.
std::optional<double> big_int_to_double(std::string_view text);

// A decimal integer's canonical digits: sign only when negative, no '+', no
// underscores, no leading zeros ("-0" is "0"). Nothing when the text is no
// decimal integer.
std::optional<std::string> canonical_integer(std::string_view text);

// The exact integer a double holds, as canonical digits; nothing when it is
// not finite or has a fraction.
std::optional<std::string> integral_double_digits(double d);

// Whether an integer equals a double exactly (1 equals 1.0; 2^53 + 1 does not
// equal 2^53).
bool int_equals_double(std::int64_t i, double d) noexcept;

// The shortest decimal text that reads back as `d`, without exponent and
// without a fractional part when integral ("5", "0.25", "1e-07" as "0.0000001");
// "nan", "inf" and "-inf" for the special values.
std::string number_text(double d);

}  // namespace torvex::schema
