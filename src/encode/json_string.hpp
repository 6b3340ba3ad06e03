// JSON string literals: the escaper shared by the JSON emitter and its tests.
#pragma once

#include <cstddef>
#include <string_view>

#include "encode/out_buffer.hpp"

namespace torvex {

namespace json_string_detail {

// Copies src[0, n) to dst up to the first byte that needs a look (a control
// character, the quote, the backslash, or 0xE2, which may start U+2028 or
// U+2029) and returns its index, or n when there is none. Bytes after that
// index may be written too (the caller overwrites them); nothing is read or
// written outside src[0, n) and dst[0, n).
std::size_t copy_plain(const unsigned char* src, std::size_t n, char* dst) noexcept;

// The rest of a string from p[i], its first byte that needs a look (the
// bytes before it are written and committed), closing quote included.
void append_escaped_rest(OutBuffer& out, const unsigned char* p, std::size_t n, std::size_t i);

}  // namespace json_string_detail

// Appends s as a JSON string literal, quotes included. Escaped: the quote,
// the backslash, control characters (short forms where JSON has them,
// \u00XX otherwise) and U+2028/U+2029 (\u2028, \u2029); every other byte is
// copied as it is. Inline: most strings need no escape, and those are copied
// and quoted in one pass and committed at once, where the caller is.
inline void append_json_string(OutBuffer& out, std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    char* d = out.reserve(n + 2);
    d[0] = '"';
    const std::size_t plain = json_string_detail::copy_plain(p, n, d + 1);
    if (plain == n) [[likely]] {
        d[n + 1] = '"';
        out.advance(n + 2);
        return;
    }
    out.advance(plain + 1);
    json_string_detail::append_escaped_rest(out, p, n, plain);
}

}  // namespace torvex
