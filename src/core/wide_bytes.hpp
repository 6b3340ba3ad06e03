// Byte searches 16 bytes at a time with SSE2 (part of every x86-64), with a
// word-at-a-time fallback that every build also runs on the last bytes of a
// text, so both paths are exercised. Defining TORVEX_PORTABLE turns the SSE2
// paths off (to test the fallback alone). No search reads outside the range
// it is given.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(TORVEX_PORTABLE)
#define TORVEX_SSE2 1
#include <emmintrin.h>
#else
#define TORVEX_SSE2 0
#endif

namespace torvex::wide {

inline std::uint64_t load8(const unsigned char* p) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;  // byte k of the text in bits 8k..8k+7
}

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// Bit 7 of byte k set where byte k of `word` equals `b` (exact: no false
// positives from borrows, unlike the shorter has-zero test).
inline std::uint64_t equal_bytes(std::uint64_t word, unsigned char b) noexcept {
    const std::uint64_t x = word ^ (kOnes * b);
    return ~(((x & ~kHighs) + ~kHighs) | x) & kHighs;
}

inline std::size_t first_flagged(std::uint64_t flags) noexcept {
    return static_cast<std::size_t>(std::countr_zero(flags)) / 8;
}

#if TORVEX_SSE2
inline __m128i load16(const unsigned char* p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline unsigned high_bits(const unsigned char* p) noexcept {
    return static_cast<unsigned>(_mm_movemask_epi8(load16(p)));
}
// The largest of the 16 bytes of v.
inline unsigned char max_byte(__m128i v) noexcept {
    v = _mm_max_epu8(v, _mm_srli_si128(v, 8));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 4));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 2));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 1));
    return static_cast<unsigned char>(_mm_cvtsi128_si32(v) & 0xFF);
}
#endif

// The first index from `i` holding a byte >= 0x80, or `size`.
inline std::size_t ascii_end(const unsigned char* text, std::size_t i, std::size_t size) noexcept {
#if TORVEX_SSE2
    for (; i + 32 <= size; i += 32) {
        const unsigned a = high_bits(text + i), b = high_bits(text + i + 16);
        if ((a | b) != 0) return i + static_cast<std::size_t>(std::countr_zero(a | b << 16));
    }
#endif
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t high = load8(text + i) & kHighs;
        if (high != 0) return i + first_flagged(high);
    }
    while (i < size && text[i] < 0x80) ++i;
    return i;
}

// The first index from `i` holding a line feed or a carriage return, or `size`.
inline std::size_t find_break(const unsigned char* text, std::size_t i, std::size_t size) noexcept {
#if TORVEX_SSE2
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    for (; i + 16 <= size; i += 16) {
        const __m128i v = load16(text + i);
        const unsigned m =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
        if (m != 0) return i + static_cast<std::size_t>(std::countr_zero(m));
    }
#endif
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t w = load8(text + i);
        const std::uint64_t hit = equal_bytes(w, '\n') | equal_bytes(w, '\r');
        if (hit != 0) return i + first_flagged(hit);
    }
    while (i < size && text[i] != '\n' && text[i] != '\r') ++i;
    return i;
}

// Offsets of the line breaks among the 64 bytes at p, as bits.
inline std::uint64_t break_bits64(const unsigned char* p) noexcept {
#if TORVEX_SSE2
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    std::uint64_t bits = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i v = load16(p + 16 * k);
        const auto m = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
        bits |= static_cast<std::uint64_t>(m) << (16 * k);
    }
    return bits;
#else
    std::uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) {
        const std::uint64_t w = load8(p + 8 * k);
        const std::uint64_t hit = (equal_bytes(w, '\n') | equal_bytes(w, '\r')) >> 7;  // bit 8j: byte j
        // Gather bit 8j of `hit` into bit j (the multiply moves each into the top byte; no carries meet).
        bits |= ((hit * 0x0102040810204080ULL) >> 56) << (8 * k);
    }
    return bits;
#endif
}

inline constexpr std::size_t kBreakWindow = 128;

// The offset from `p` of the first line break among the first 127 of the
// kBreakWindow bytes at p (all of which must be readable), or 127 when there
// is none there (the last byte is not looked at). Without a branch on where
// the break is: lines of varying length cost no mispredicted exit.
inline std::size_t break_in_window(const unsigned char* p) noexcept {
    const std::uint64_t lo = break_bits64(p), hi = break_bits64(p + 64);
    const std::uint64_t in_hi = 0 - static_cast<std::uint64_t>(lo == 0);  // all ones when none is in the first 64
    const std::uint64_t bits = lo | (in_hi & (hi | 1ULL << 63));           // never zero
    return static_cast<std::size_t>(in_hi & 64) + static_cast<std::size_t>(__builtin_ctzll(bits));
}

#if defined(__x86_64__) && !defined(TORVEX_PORTABLE)
// The same, 32 bytes per step, for CPUs with AVX2 only (scanner/byte_search_avx2.cpp).
std::size_t break_in_window_avx2(const unsigned char* p) noexcept;
#endif

// The first index from `i` holding a byte other than a space, or `size`.
inline std::size_t skip_spaces(const unsigned char* text, std::size_t i, std::size_t size) noexcept {
#if TORVEX_SSE2
    const __m128i space = _mm_set1_epi8(' ');
    for (; i + 16 <= size; i += 16) {
        const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(load16(text + i), space))) ^ 0xFFFFu;
        if (m != 0) return i + static_cast<std::size_t>(std::countr_zero(m));
    }
#endif
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t other = ~equal_bytes(load8(text + i), ' ') & kHighs;
        if (other != 0) return i + first_flagged(other);
    }
    while (i < size && text[i] == ' ') ++i;
    return i;
}

}  // namespace torvex::wide
