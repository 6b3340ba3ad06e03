// Code units of a str's storage (1, 2 or 4 bytes each) turned into UTF-8:
// sixteen at a time while they are ASCII, which texts of data are for the
// most part even when a few characters make the str wide, and one code
// point at a time otherwise.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace torvex::units {

// The UTF-8 form of `c` (a code point, not a surrogate) at `d`; the end.
inline char* put_utf8(std::uint32_t c, char* d) noexcept {
    if (c < 0x80) {
        *d = static_cast<char>(c);
        return d + 1;
    }
    if (c < 0x800) {
        d[0] = static_cast<char>(0xC0 | (c >> 6));
        d[1] = static_cast<char>(0x80 | (c & 0x3F));
        return d + 2;
    }
    if (c < 0x10000) {
        d[0] = static_cast<char>(0xE0 | (c >> 12));
        d[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        d[2] = static_cast<char>(0x80 | (c & 0x3F));
        return d + 3;
    }
    d[0] = static_cast<char>(0xF0 | (c >> 18));
    d[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    d[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    d[3] = static_cast<char>(0x80 | (c & 0x3F));
    return d + 4;
}

inline bool is_surrogate(std::uint32_t c) noexcept { return (c & 0xFFFFF800) == 0xD800; }

#if defined(__SSE2__)
// Sixteen units narrowed to bytes, exact where a unit is ASCII, and one bit
// per unit that is not.
struct Narrowed16 {
    __m128i bytes;
    unsigned non_ascii;
};

inline Narrowed16 narrow16(const std::uint8_t* p) noexcept {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return {v, static_cast<unsigned>(_mm_movemask_epi8(v))};
}

inline Narrowed16 narrow16(const std::uint16_t* p) noexcept {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    const __m128i ascii = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(a, high), zero),
                                          _mm_cmpeq_epi16(_mm_and_si128(b, high), zero));
    return {_mm_packus_epi16(a, b), ~static_cast<unsigned>(_mm_movemask_epi8(ascii)) & 0xFFFF};
}

inline Narrowed16 narrow16(const std::uint32_t* p) noexcept {
    const auto load = [p](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * k)); };
    const __m128i high = _mm_set1_epi32(static_cast<int>(0xFFFFFF80));
    const __m128i zero = _mm_setzero_si128();
    const auto is_ascii = [&](__m128i v) { return _mm_cmpeq_epi32(_mm_and_si128(v, high), zero); };
    const __m128i v0 = load(0), v1 = load(1), v2 = load(2), v3 = load(3);
    const __m128i ascii = _mm_packs_epi16(_mm_packs_epi32(is_ascii(v0), is_ascii(v1)),
                                          _mm_packs_epi32(is_ascii(v2), is_ascii(v3)));
    // Code points are below 2^31: the signed narrowing keeps ASCII units exact.
    return {_mm_packus_epi16(_mm_packs_epi32(v0, v1), _mm_packs_epi32(v2, v3)),
            ~static_cast<unsigned>(_mm_movemask_epi8(ascii)) & 0xFFFF};
}
#endif

}  // namespace torvex::units
