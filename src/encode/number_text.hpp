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

// Exactly two, four and eight digits of v (below 100, 10^4, 10^8).
inline char* write_2(std::uint32_t v, char* out) noexcept {
    std::memcpy(out, kDigitPairs + 2 * v, 2);
    return out + 2;
}
inline char* write_4(std::uint32_t v, char* out) noexcept {
    const std::uint32_t high = v / 100;
    write_2(high, out);
    return write_2(v - high * 100, out + 2);
}
inline char* write_8(std::uint32_t v, char* out) noexcept {
    const std::uint32_t high = v / 10000;
    write_4(high, out);
    return write_4(v - high * 10000, out + 4);
}

// One to four digits of v (below 10^4), and one to eight (below 10^8).
inline char* write_upto_4(std::uint32_t v, char* out) noexcept {
    if (v < 10) {
        *out = static_cast<char>('0' + v);
        return out + 1;
    }
    if (v < 100) return write_2(v, out);
    const std::uint32_t high = v / 100;
    if (high < 10) {
        *out++ = static_cast<char>('0' + high);
    } else {
        out = write_2(high, out);
    }
    return write_2(v - high * 100, out);
}
inline char* write_upto_8(std::uint32_t v, char* out) noexcept {
    if (v < 10000) return write_upto_4(v, out);
    const std::uint32_t high = v / 10000;
    return write_4(v - high * 10000, write_upto_4(high, out));
}

// The texts of 0 to 999, four bytes each: up to three digits, then the
// count. Most integers in data are this small; they take one load and one
// store, with no branch on their length.
struct SmallDecimals {
    char text[1000][4];
    constexpr SmallDecimals() : text{} {
        for (unsigned v = 0; v < 1000; ++v) {
            const unsigned digits = v < 10 ? 1 : v < 100 ? 2 : 3;
            unsigned rest = v;
            for (unsigned k = digits; k-- > 0; rest /= 10) text[v][k] = static_cast<char>('0' + rest % 10);
            text[v][3] = static_cast<char>(digits);
        }
    }
};
inline constexpr SmallDecimals kSmallDecimals{};

// Writes v's digits at `out` and returns the end. The digits are split in
// groups of eight at most, cut off by 32-bit arithmetic, with no loop and no
// count of the digits first: most integers in data have one to eight.
[[gnu::noinline]] inline char* write_decimal(std::uint64_t v, char* out) noexcept {
    if (v < 100000000) return write_upto_8(static_cast<std::uint32_t>(v), out);
    constexpr std::uint64_t k8 = 100000000;
    if (v < k8 * k8) {
        const std::uint64_t high = v / k8;
        return write_8(static_cast<std::uint32_t>(v - high * k8), write_upto_8(static_cast<std::uint32_t>(high), out));
    }
    const std::uint64_t high = v / (k8 * k8);  // at most 1844
    const std::uint64_t low = v - high * (k8 * k8);
    const std::uint64_t middle = low / k8;
    out = write_upto_4(static_cast<std::uint32_t>(high), out);
    out = write_8(static_cast<std::uint32_t>(middle), out);
    return write_8(static_cast<std::uint32_t>(low - middle * k8), out);
}

// The decimal text of v at `out`, which has room for 20 bytes; returns the end.
// Inlined: most integers take the table, a handful of instructions.
[[gnu::always_inline]] inline char* write_int(std::int64_t v, char* out) noexcept {
    std::uint64_t magnitude = static_cast<std::uint64_t>(v);
    if (v < 0) {
        *out++ = '-';
        magnitude = 0 - magnitude;
    }
    if (magnitude < 1000) {
        const char* small = kSmallDecimals.text[magnitude];
        std::memcpy(out, small, 4);  // the count lands past the digits, where the caller's room allows it
        return out + small[3];
    }
    return write_decimal(magnitude, out);
}

}  // namespace number_text_detail

// The decimal text of v: the general conversion spends most of its time on
// checks and the sign, which a writer with room reserved does not need.
inline void append_int(OutBuffer& out, std::int64_t v) {
    char* const start = out.reserve(20);
    out.advance(static_cast<std::size_t>(number_text_detail::write_int(v, start) - start));
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
