// Searches over runs of scalar text: 16 bytes at a time where SSE2 is
// available (every x86-64), 8 at a time (one word) otherwise and for the
// last bytes of the text, then byte by byte. Nothing is read at or past
// `length`.
//
// Each search comes in two forms. The first (kPassHigh false) also stops at
// any byte >= 0x80, and costs nothing over a pure ASCII search. A caller that
// meets a non-ASCII character switches to the second, which passes them and
// only makes `high` nonzero; the caller then counts the run's characters once
// at its end (its column), instead of restarting the search per character.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/wide_bytes.hpp"
#include "scanner/reader.hpp"

namespace torvex::scan {

namespace detail {

// The first offset from `p` holding a byte of kPlainStopInner* (break, `#`,
// `:`; in flow context also `,` and brackets), or `length`; see above for
// bytes >= 0x80.
template <bool kPassHigh>
inline std::size_t plain_stop(const unsigned char* text, std::size_t p, std::size_t length, bool flow,
                                   unsigned& high) noexcept {
#if TORVEX_SSE2
    const __m128i nl = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    const __m128i hash = _mm_set1_epi8('#'), colon = _mm_set1_epi8(':');
    const __m128i comma = _mm_set1_epi8(','), case_bit = _mm_set1_epi8(0x20);
    const __m128i open = _mm_set1_epi8('{'), close = _mm_set1_epi8('}');
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
        const unsigned top = static_cast<unsigned>(_mm_movemask_epi8(v));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(m));
        if constexpr (!kPassHigh) mask |= top;
        if (mask != 0) {
            // mask - 1 keeps the bits below the first stop, and other stops, which are ASCII.
            if constexpr (kPassHigh) high |= top & (mask - 1);
            return p + static_cast<std::size_t>(std::countr_zero(mask));
        }
        if constexpr (kPassHigh) high |= top;
    }
#endif
    for (; p + 8 <= length; p += 8) {
        const std::uint64_t w = wide::load8(text + p);
        std::uint64_t hit = wide::equal_bytes(w, '\n') | wide::equal_bytes(w, '\r') | wide::equal_bytes(w, '#') |
                            wide::equal_bytes(w, ':');
        if (flow) {
            const std::uint64_t folded = w | wide::kOnes * 0x20;
            hit |= wide::equal_bytes(w, ',') | wide::equal_bytes(folded, '{') | wide::equal_bytes(folded, '}');
        }
        if constexpr (!kPassHigh) hit |= w & wide::kHighs;
        if (hit != 0) {
            // The lowest flag less one: the flags of the bytes before the hit.
            if constexpr (kPassHigh) high |= (w & wide::kHighs & ((hit & (0 - hit)) - 1)) != 0;
            return p + wide::first_flagged(hit);
        }
        if constexpr (kPassHigh) high |= (w & wide::kHighs) != 0;
    }
    const ByteTable& stop = flow ? kPlainStopInnerFlow : kPlainStopInnerBlock;
    for (; p < length && !stop[text[p]]; ++p) {
        if constexpr (kPassHigh)
            high |= text[p] & 0x80u;
        else if (text[p] >= 0x80)
            break;
    }
    return p;
}

// The first offset from `p` holding `a`, `b`, LF or CR, or `length`; see
// above for bytes >= 0x80.
template <bool kPassHigh>
inline std::size_t quote_stop(const unsigned char* text, std::size_t p, std::size_t length, unsigned char a,
                                   unsigned char b, unsigned& high) noexcept {
#if TORVEX_SSE2
    const __m128i va = _mm_set1_epi8(static_cast<char>(a)), vb = _mm_set1_epi8(static_cast<char>(b));
    const __m128i nl = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    for (; p + 16 <= length; p += 16) {
        const __m128i v = wide::load16(text + p);
        const __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, nl), _mm_cmpeq_epi8(v, cr)));
        const unsigned top = static_cast<unsigned>(_mm_movemask_epi8(v));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(m));
        if constexpr (!kPassHigh) mask |= top;
        if (mask != 0) {
            if constexpr (kPassHigh) high |= top & (mask - 1);
            return p + static_cast<std::size_t>(std::countr_zero(mask));
        }
        if constexpr (kPassHigh) high |= top;
    }
#endif
    for (; p + 8 <= length; p += 8) {
        const std::uint64_t w = wide::load8(text + p);
        std::uint64_t hit = wide::equal_bytes(w, a) | wide::equal_bytes(w, b) | wide::equal_bytes(w, '\n') |
                            wide::equal_bytes(w, '\r');
        if constexpr (!kPassHigh) hit |= w & wide::kHighs;
        if (hit != 0) {
            if constexpr (kPassHigh) high |= (w & wide::kHighs & ((hit & (0 - hit)) - 1)) != 0;
            return p + wide::first_flagged(hit);
        }
        if constexpr (kPassHigh) high |= (w & wide::kHighs) != 0;
    }
    for (; p < length && text[p] != a && text[p] != b && !is_break(text[p]); ++p) {
        if constexpr (kPassHigh)
            high |= text[p] & 0x80u;
        else if (text[p] >= 0x80)
            break;
    }
    return p;
}

}  // namespace detail

// The first offset from `p` holding a byte of kPlainStopInner*, or `length`.
// `high` is nonzero once a byte >= 0x80 was passed (by this call or by an
// earlier one for the same run, which passes it on).
inline std::size_t find_plain_stop(const unsigned char* text, std::size_t p, std::size_t length, bool flow,
                                   unsigned& high) noexcept {
    if (high == 0) {
        p = detail::plain_stop<false>(text, p, length, flow, high);
        if (p >= length || text[p] < 0x80) return p;
        high = 1;
    }
    return detail::plain_stop<true>(text, p, length, flow, high);
}

// The first offset from `p` holding `a`, `b`, LF or CR, or `length`; `high`
// as for find_plain_stop.
inline std::size_t find_quote_stop(const unsigned char* text, std::size_t p, std::size_t length, unsigned char a,
                                   unsigned char b, unsigned& high) noexcept {
    if (high == 0) {
        p = detail::quote_stop<false>(text, p, length, a, b, high);
        if (p >= length || text[p] < 0x80) return p;
        high = 1;
    }
    return detail::quote_stop<true>(text, p, length, a, b, high);
}

}  // namespace torvex::scan
