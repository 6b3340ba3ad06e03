// Number text: digit strings in bases 2, 8, 10 and 16, decimal floating-point
// text and the special float words. No allocation except where noted, no
// exceptions, no locale.
#pragma once

#include <cstdint>
#include <string_view>

namespace torvex::number_text {

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// Value of `c` as a digit in `base` (2 to 16), or -1 when it is not one.
constexpr int digit_value(char c, unsigned base) noexcept {
    int v = -1;
    if (c >= '0' && c <= '9') {
        v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        v = c - 'A' + 10;
    }
    return v >= 0 && static_cast<unsigned>(v) < base ? v : -1;
}

// The digits of `text` in `base` as an unsigned value. Fails on an empty digit
// string, a byte that is no digit of the base, or a value above `limit`.
// With `skip_underscores`, '_' bytes are ignored wherever they stand (a text
// of underscores alone still counts as empty).
bool parse_unsigned(std::string_view text, unsigned base, std::uint64_t limit, bool skip_underscores,
                    std::uint64_t& out) noexcept;

// True when `text` is a non-empty run of decimal digits ('_' ignored with
// `skip_underscores`; at least one digit is still required). `digits` receives
// the number of digits and `first` the first of them.
bool decimal_digits(std::string_view text, bool skip_underscores, std::size_t& digits, char& first) noexcept;

// `.inf`, `.Inf`, `.INF` with an optional sign, `.nan`, `.NaN`, `.NAN` without.
bool parse_special_float(std::string_view text, double& out) noexcept;

// A decimal floating-point number: an optional sign, digits with an optional
// fraction (`1`, `1.`, `.5`, `1.5`; at least one digit), then an optional
// exponent (`e` or `E`, an optional sign, at least one digit). The value is
// correctly rounded; magnitudes beyond the double range give infinity and
// those below it zero, with the sign kept.
// With `require_point_or_exponent`, text without `.` and without an exponent
// is rejected. With `skip_underscores`, '_' bytes are ignored anywhere; only
// then may a long text be copied to the heap (allocation failure rejects).
bool parse_decimal_float(std::string_view text, bool skip_underscores, bool require_point_or_exponent,
                         double& out) noexcept;

}  // namespace torvex::number_text
