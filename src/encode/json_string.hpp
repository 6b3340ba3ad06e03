// JSON string literals: the escaper shared by the JSON emitter and its tests.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
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

// Room a writer reserves past a text for short_plain's whole-block stores.
inline constexpr std::size_t kShortSlack = 32;

// A text of at most 32 bytes is copied with one or two 16-byte loads and
// stores when the blocks cannot cross into another page: the bytes after the
// text are read, never used, and `dst` needs 32 bytes of room. Returns the
// length of the plain run as copy_plain does, or n + 1 when it does not
// apply. Most keys and short values of data go this way, with no branch on
// their length. Only for texts inside the interpreter's objects (the str
// writer): reading past a text is no fault there, where an address
// checker would rightly report it for the engine's own buffers; builds
// with the checker never read past.
[[gnu::always_inline]] inline std::size_t short_plain(const unsigned char* src, std::size_t n, char* dst) noexcept {
    constexpr std::uintptr_t kPage = 4096;
#if defined(__SANITIZE_ADDRESS__)
    return n + 1;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return n + 1;
#endif
#endif
    if (n > 32 || (reinterpret_cast<std::uintptr_t>(src) & (kPage - 1)) > kPage - 32) return n + 1;
    const auto special_bits = [](__m128i v) {
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
        const __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
        const __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
        const __m128i lead = _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xE2)));
        return static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(control, quote), _mm_or_si128(backslash, lead))));
    };
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), low);
    std::uint64_t special = special_bits(low);
    if (n > 16) {
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), high);
        special |= static_cast<std::uint64_t>(special_bits(high)) << 16;
    }
    const std::uint64_t within = special & ((std::uint64_t{1} << n) - 1);
    return within == 0 ? n : static_cast<std::size_t>(__builtin_ctzll(within));
}

}  // namespace json_string_detail

// Appends a text held as `n` code units of `width` bytes each (1, 2 or 4,
// the widths of the interpreter's str storage) as a JSON string literal in
// UTF-8, with the escapes of append_json_string: the text is encoded once,
// into the output, with no UTF-8 copy of it made first. False when a code
// unit is a surrogate, which UTF-8 cannot encode; `out` then holds part of
// the literal.
bool append_json_string_units(OutBuffer& out, const void* units, std::size_t n, unsigned width);

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
