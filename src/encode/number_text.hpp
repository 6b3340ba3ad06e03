// Integer texts shared by the emitters.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "encode/out_buffer.hpp"

namespace torvex {

namespace number_text_detail {

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Digits of v, 1 to 20.
inline unsigned decimal_length(std::uint64_t v) noexcept {
    unsigned n = 1;
    for (;;) {
        if (v < 10) return n;
        if (v < 100) return n + 1;
        if (v < 1000) return n + 2;
        if (v < 10000) return n + 3;
        v /= 10000;
        n += 4;
    }
}

// Writes v's digits at `out`, two at a time from the end; returns the end.
inline char* write_decimal(std::uint64_t v, char* out) noexcept {
    char* const end = out + decimal_length(v);
    char* p = end;
    while (v >= 100) {
        const std::uint64_t pair = v % 100;
        v /= 100;
        p -= 2;
        std::memcpy(p, kDigitPairs + 2 * pair, 2);
    }
    if (v >= 10) {
        std::memcpy(p - 2, kDigitPairs + 2 * v, 2);
    } else {
        p[-1] = static_cast<char>('0' + v);
    }
    return end;
}

}  // namespace number_text_detail

// The decimal text of v: the general conversion spends most of its time on
// checks and the sign, which a writer with room reserved does not need.
inline void append_int(OutBuffer& out, std::int64_t v) {
    char* const start = out.reserve(20);
    char* p = start;
    std::uint64_t magnitude = static_cast<std::uint64_t>(v);
    if (v < 0) {
        *p++ = '-';
        magnitude = 0 - magnitude;
    }
    out.advance(static_cast<std::size_t>(number_text_detail::write_decimal(magnitude, p) - start));
}

// A big integer's digits: a leading "+" and YAML 1.1 underscores are dropped,
// so the text reads back as the same integer under every rule set and is
// valid JSON.
inline void append_big_int(OutBuffer& out, std::string_view text) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.find('_') == std::string_view::npos) {
        out.append(text);
        return;
    }
    for (char c : text)
        if (c != '_') out.put(c);
}

}  // namespace torvex
