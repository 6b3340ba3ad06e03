// Searches over runs of bytes, 16 at a time where SSE2 is available (every
// x86-64), one at a time otherwise. Used by the scalar scanners' hot loops.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scanner/reader.hpp"

namespace torvex::scan {

// The first offset from `p` holding a byte of kPlainStopInner* (break, `#`,
// `:`, any non-ASCII byte; in flow context also `,` and brackets), or `length`.
inline std::size_t find_plain_stop(const unsigned char* text, std::size_t p, std::size_t length, bool flow) noexcept {
#if defined(__SSE2__)
    const __m128i nl = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    const __m128i hash = _mm_set1_epi8('#'), colon = _mm_set1_epi8(':');
    const __m128i comma = _mm_set1_epi8(','), case_bit = _mm_set1_epi8(0x20);
    const __m128i open = _mm_set1_epi8('{'), close = _mm_set1_epi8('}');
    while (p + 16 <= length) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + p));
        __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, nl), _mm_cmpeq_epi8(v, cr)),
                                 _mm_or_si128(_mm_cmpeq_epi8(v, hash), _mm_cmpeq_epi8(v, colon)));
        if (flow) {
            // `[` and `]` differ from `{` and `}` only in bit 0x20.
            const __m128i folded = _mm_or_si128(v, case_bit);
            m = _mm_or_si128(m, _mm_or_si128(_mm_cmpeq_epi8(v, comma),
                                             _mm_or_si128(_mm_cmpeq_epi8(folded, open), _mm_cmpeq_epi8(folded, close))));
        }
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(m) | _mm_movemask_epi8(v));
        if (mask != 0) return p + static_cast<std::size_t>(__builtin_ctz(mask));
        p += 16;
    }
#endif
    const ByteTable& stop = flow ? kPlainStopInnerFlow : kPlainStopInnerBlock;
    while (p < length && !stop[text[p]]) ++p;
    return p;
}

// The first offset from `p` holding `a`, `b`, LF or CR, or `length`; adds the
// number of characters skipped (bytes that are not UTF-8 continuation bytes) to `chars`.
inline std::size_t find_quote_stop(const unsigned char* text, std::size_t p, std::size_t length, unsigned char a,
                                   unsigned char b, std::uint32_t& chars) noexcept {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(static_cast<char>(a)), vb = _mm_set1_epi8(static_cast<char>(b));
    const __m128i nl = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    const __m128i top2 = _mm_set1_epi8(static_cast<char>(0xC0)), cont = _mm_set1_epi8(static_cast<char>(0x80));
    while (p + 16 <= length) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + p));
        const __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, nl), _mm_cmpeq_epi8(v, cr)));
        const unsigned stop = static_cast<unsigned>(_mm_movemask_epi8(m));
        const unsigned continuation =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, top2), cont)));
        // Pure ASCII runs (the usual case) need no count of continuation bytes.
        if (stop != 0) {
            const unsigned n = static_cast<unsigned>(__builtin_ctz(stop));
            const unsigned before = continuation & ((1u << n) - 1);
            chars += n - (before != 0 ? static_cast<std::uint32_t>(__builtin_popcount(before)) : 0);
            return p + n;
        }
        chars += 16 - (continuation != 0 ? static_cast<std::uint32_t>(__builtin_popcount(continuation)) : 0);
        p += 16;
    }
#endif
    while (p < length && text[p] != a && text[p] != b && !is_break(text[p])) {
        if ((text[p] & 0xC0) != 0x80) ++chars;
        ++p;
    }
    return p;
}

}  // namespace torvex::scan
