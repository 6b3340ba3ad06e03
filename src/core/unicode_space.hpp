// Unicode white space as used wherever text is trimmed or split: tab, LF, VT,
// FF, CR, space, U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029,
// U+202F, U+205F, U+3000.
#pragma once

#include <cstddef>
#include <string_view>

namespace torvex {

constexpr bool is_unicode_space(char32_t c) noexcept {
    if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0x85) return false;
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Byte length of the white-space character starting at `pos`, or 0 when the
// character there is not white space (or pos is at the end).
std::size_t unicode_space_length_at(std::string_view text, std::size_t pos) noexcept;

// Length of the white-space character that ends just before `end`, or 0.
std::size_t unicode_space_length_before(std::string_view text, std::size_t end) noexcept;

std::string_view trim_start(std::string_view text) noexcept;
std::string_view trim_end(std::string_view text) noexcept;
inline std::string_view trim(std::string_view text) noexcept { return trim_end(trim_start(text)); }

// Splits off the next word separated by white space from `rest` (which then
// starts just after the word); empty when no word is left.
std::string_view next_word(std::string_view& rest) noexcept;

}  // namespace torvex
