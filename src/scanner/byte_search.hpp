// Searches over runs of scalar text: 16 bytes at a time where SSE2 is
// available (every x86-64), 8 at a time (one word) otherwise and for the
// last bytes of the text, then byte by byte. Non-ASCII bytes never stop a
// search; a caller that needs the column counts the characters of the run
// afterwards, and only when `high` says there were non-ASCII bytes in it.
// Nothing is read at or past `length`.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/wide_bytes.hpp"
#include "scanner/reader.hpp"

namespace torvex::scan {

// The first offset from `p` holding a byte of kPlainStopInner* (break, `#`,
// `:`; in flow context also `,` and brackets), or `length`. Sets `high` when
// a byte >= 0x80 lies in [p, result).
inline std::size_t find_plain_stop(const unsigned char* text, std::size_t p, std::size_t length, bool flow,
                                   bool& high) noexcept {
#if TORVEX_SSE2
    const __m128i nl = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    const __m128i hash = _mm_set1_epi8('#'), colon = _mm_set1_epi8(':');
    const __m128i comma = _mm_set1_epi8(','), case_bit = _mm_set1_epi8(0x20);
    const __m128i open = _mm_set1_epi8('{'), close = _mm_set1_epi8('}');
    unsigned seen = 0;
    for (; p + 16 <= length; p += 16) {
        const __m128i v = wide::load16(text + p);
        __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, nl), _mm_cmpeq_epi8(v, cr)),
                                 _mm_or_si128(_mm_cmpeq_epi8(v, hash), _mm_cmpeq_epi8(v, colon)));
        if (flow) {
            // `[` and `]` differ from `{` and `}` only in bit 0x20.
            const __m128i folded = _mm_or_si128(v, case_bit);
            m = _mm_or_si128(m, _mm_or_si128(_mm_cmpeq_epi8(v, comma),
                                             _mm_or_si128(_mm_cmpeq_epi8(folded, open), _mm_cmpeq_epi8(folded, close))));
        }
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(m));
        const unsigned top = static_cast<unsigned>(_mm_movemask_epi8(v));
        if (mask != 0) {
            const unsigned n = static_cast<unsigned>(std::countr_zero(mask));
            high = high || seen != 0 || (top & ((1u << n) - 1)) != 0;
            return p + n;
        }
        seen |= top;
    }
    high = high || seen != 0;
#endif
    for (; p + 8 <= length; p += 8) {
        const std::uint64_t w = wide::load8(text + p);
        std::uint64_t hit = wide::equal_bytes(w, '\n') | wide::equal_bytes(w, '\r') | wide::equal_bytes(w, '#') |
                            wide::equal_bytes(w, ':');
        if (flow) {
            const std::uint64_t folded = w | wide::kOnes * 0x20;
            hit |= wide::equal_bytes(w, ',') | wide::equal_bytes(folded, '{') | wide::equal_bytes(folded, '}');
        }
        if (hit != 0) {
            const std::size_t n = wide::first_flagged(hit);
            // Bytes before the hit: the flags below its byte.
            high = high || (w & wide::kHighs & ((hit & (0 - hit)) - 1)) != 0;
            return p + n;
        }
        high = high || (w & wide::kHighs) != 0;
    }
    const ByteTable& stop = flow ? kPlainStopInnerFlow : kPlainStopInnerBlock;
    for (; p < length && !stop[text[p]]; ++p) high = high || text[p] >= 0x80;
    return p;
}

// The first offset from `p` holding `a`, `b`, LF or CR, or `length`. Sets
// `high` when a byte >= 0x80 lies in [p, result).
inline std::size_t find_quote_stop(const unsigned char* text, std::size_t p, std::size_t length, unsigned char a,
                                   unsigned char b, bool& high) noexcept {
#if TORVEX_SSE2
    const __m128i va = _mm_set1_epi8(static_cast<char>(a)), vb = _mm_set1_epi8(static_cast<char>(b));
    const __m128i nl = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    unsigned seen = 0;
    for (; p + 16 <= length; p += 16) {
        const __m128i v = wide::load16(text + p);
        const __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, nl), _mm_cmpeq_epi8(v, cr)));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(m));
        const unsigned top = static_cast<unsigned>(_mm_movemask_epi8(v));
        if (mask != 0) {
            const unsigned n = static_cast<unsigned>(std::countr_zero(mask));
            high = high || seen != 0 || (top & ((1u << n) - 1)) != 0;
            return p + n;
        }
        seen |= top;
    }
    high = high || seen != 0;
#endif
    for (; p + 8 <= length; p += 8) {
        const std::uint64_t w = wide::load8(text + p);
        const std::uint64_t hit = wide::equal_bytes(w, a) | wide::equal_bytes(w, b) | wide::equal_bytes(w, '\n') |
                                  wide::equal_bytes(w, '\r');
        if (hit != 0) {
            high = high || (w & wide::kHighs & ((hit & (0 - hit)) - 1)) != 0;
            return p + wide::first_flagged(hit);
        }
        high = high || (w & wide::kHighs) != 0;
    }
    for (; p < length && text[p] != a && text[p] != b && !is_break(text[p]); ++p) high = high || text[p] >= 0x80;
    return p;
}

}  // namespace torvex::scan
