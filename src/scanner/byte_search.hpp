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

#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/utf8.hpp"
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

// Bits of the 64 bytes at p: `stops` for the bytes `a`, `b`, LF and CR,
// `continuation` for the bytes 0x80..0xBF (those that do not start a character).
inline void quote_bits64(const unsigned char* p, unsigned char a, unsigned char b, std::uint64_t& stops,
                         std::uint64_t& continuation) noexcept {
    stops = 0;
    continuation = 0;
#if TORVEX_SSE2
    const __m128i va = _mm_set1_epi8(static_cast<char>(a)), vb = _mm_set1_epi8(static_cast<char>(b));
    const __m128i nl = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r'), below = _mm_set1_epi8(-64);
    for (int k = 0; k < 4; ++k) {
        const __m128i v = wide::load16(p + 16 * k);
        const __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, nl), _mm_cmpeq_epi8(v, cr)));
        stops |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m))) << (16 * k);
        continuation |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(v, below))))
                        << (16 * k);
    }
#else
    // Bit 8j of a flag word into bit j: the multiply moves each into the top byte, no carries meeting.
    auto gather = [](std::uint64_t flags) { return ((flags >> 7) * 0x0102040810204080ULL) >> 56; };
    for (int k = 0; k < 8; ++k) {
        const std::uint64_t w = wide::load8(p + 8 * k);
        const std::uint64_t hit = wide::equal_bytes(w, a) | wide::equal_bytes(w, b) | wide::equal_bytes(w, '\n') |
                                  wide::equal_bytes(w, '\r');
        stops |= gather(hit) << (8 * k);
        continuation |= gather(wide::equal_bytes(w & wide::kOnes * 0xC0, 0x80)) << (8 * k);
    }
#endif
}

}  // namespace detail

// A quoted scalar's run in the kBreakWindow bytes at p (all readable): the
// offset of the first `a`, `b`, LF or CR among the first 127 bytes, or 127
// when there is none there; `columns` gets the characters before it. Without
// a branch on where the run ends.
inline std::size_t quote_run_in_window(const unsigned char* p, unsigned char a, unsigned char b,
                                       std::size_t& columns) noexcept {
    std::uint64_t stops_lo, stops_hi, cont_lo, cont_hi;
    detail::quote_bits64(p, a, b, stops_lo, cont_lo);
    detail::quote_bits64(p + 64, a, b, stops_hi, cont_hi);
    const std::uint64_t in_hi = 0 - static_cast<std::uint64_t>(stops_lo == 0);
    const std::uint64_t bits = stops_lo | (in_hi & (stops_hi | 1ULL << 63));  // never zero
    const std::size_t off = static_cast<std::size_t>(in_hi & 64) + static_cast<std::size_t>(__builtin_ctzll(bits));
    // The continuation bytes below `off`, in the low word whole when the run reaches the high one.
    const std::uint64_t below_lo = (in_hi & ~0ULL) | (~in_hi & ((1ULL << (off & 63)) - 1));
    const std::uint64_t below_hi = in_hi & ((1ULL << (off & 63)) - 1);
    columns = off - static_cast<std::size_t>(std::popcount(cont_lo & below_lo) + std::popcount(cont_hi & below_hi));
    return off;
}

#if TORVEX_UTF8_AVX2
// The same, 32 bytes per step; only where utf8::has_avx2() (byte_search_avx2.cpp).
std::size_t quote_run_in_window_avx2(const unsigned char* p, unsigned char a, unsigned char b,
                                     std::size_t& columns) noexcept;
// find_quote_stop 32 bytes per step, passing bytes >= 0x80 from the start
// (`high` as there); only where utf8::has_avx2() (byte_search_avx2.cpp).
std::size_t find_quote_stop_avx2(const unsigned char* text, std::size_t p, std::size_t length, unsigned char a,
                                 unsigned char b, unsigned& high) noexcept;
#endif

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
#if TORVEX_UTF8_AVX2
    // Long runs (whole quoted scalars) take half the steps.
    if (length - p >= 64 && utf8::has_avx2()) return find_quote_stop_avx2(text, p, length, a, b, high);
#endif
    if (high == 0) {
        p = detail::quote_stop<false>(text, p, length, a, b, high);
        if (p >= length || text[p] < 0x80) return p;
        high = 1;
    }
    return detail::quote_stop<true>(text, p, length, a, b, high);
}

}  // namespace torvex::scan
