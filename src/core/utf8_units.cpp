#include "core/utf8_units.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/utf8.hpp"
#include "core/wide_bytes.hpp"

#if TORVEX_UTF8_AVX2
#include <immintrin.h>
#endif

namespace torvex::utf8 {

namespace {

#if TORVEX_SSE2
// Lanes k >= 16 - n of a load at kTailLanes + n are set: they pick the last n
// bytes out of a 16-byte load that overlaps bytes already counted.
alignas(16) constexpr unsigned char kTailLanes[32] = {0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
                                                      0,    0,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
#endif

}  // namespace

#if TORVEX_UTF8_AVX2
namespace {

// Lanes k >= 32 - n of a load at kTailLanes32 + n are set.
alignas(32) constexpr unsigned char kTailLanes32[64] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

[[gnu::target("avx2")]] inline __m256i load(const unsigned char* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// measure() 32 bytes at a time (size >= 32). The per-lane counts are summed
// every 254 steps, so that with the last partial block a lane counts at most
// 255; that block is a load of the last 32 bytes with the lanes already seen
// masked off.
[[gnu::target("avx2")]] Measure measure_avx2(const unsigned char* text, std::size_t size) noexcept {
    const __m256i below = _mm256_set1_epi8(-64);
    __m256i high = _mm256_setzero_si256();
    std::size_t continuation = 0;
    std::size_t i = 0;
    while (i < size) {
        __m256i counts = _mm256_setzero_si256();
        // Up to 254 whole blocks, counted before the loop so that it tests one bound.
        const std::size_t blocks_end = i + 32 * std::min<std::size_t>((size - i) / 32, 254);
        for (; i < blocks_end; i += 32) {
            const __m256i v = load(text + i);
            high = _mm256_max_epu8(high, v);
            counts = _mm256_sub_epi8(counts, _mm256_cmpgt_epi8(below, v));
        }
        if (i < size && i + 32 > size) {
            const __m256i v = load(text + size - 32);
            high = _mm256_max_epu8(high, v);
            counts = _mm256_sub_epi8(counts, _mm256_and_si256(_mm256_cmpgt_epi8(below, v), load(kTailLanes32 + (size - i))));
            i = size;
        }
        const __m256i sums = _mm256_sad_epu8(counts, _mm256_setzero_si256());
        continuation += static_cast<std::size_t>(_mm256_extract_epi64(sums, 0) + _mm256_extract_epi64(sums, 1) +
                                                 _mm256_extract_epi64(sums, 2) + _mm256_extract_epi64(sums, 3));
    }
    const __m128i top = _mm_max_epu8(_mm256_castsi256_si128(high), _mm256_extracti128_si256(high, 1));
    return Measure{size - continuation, wide::max_byte(top)};
}

}  // namespace
#endif

Measure measure(const unsigned char* text, std::size_t size) noexcept {
#if TORVEX_UTF8_AVX2
    if (size >= 64 && has_avx2()) return measure_avx2(text, size);
#endif
    std::size_t continuation = 0;
#if TORVEX_SSE2
    if (size >= 16) {
        // Per 16 bytes: the running maximum, and a per-lane count of
        // continuation bytes (0x80..0xBF: below -64 as signed bytes), summed
        // into `continuation` before a lane can overflow. The last partial
        // block is a load of the last 16 bytes with the lanes already seen masked off.
        const __m128i below = _mm_set1_epi8(-64);
        __m128i high = _mm_setzero_si128();
        std::size_t i = 0;
        while (i < size) {
            __m128i counts = _mm_setzero_si128();
            // Two blocks per step; with the last whole block and the tail a
            // lane counts at most 126 * 2 + 2 = 254 before the sum.
            for (int k = 0; k < 126 && i + 32 <= size; ++k, i += 32) {
                const __m128i v = wide::load16(text + i), w = wide::load16(text + i + 16);
                high = _mm_max_epu8(high, _mm_max_epu8(v, w));
                counts = _mm_sub_epi8(counts, _mm_cmplt_epi8(v, below));
                counts = _mm_sub_epi8(counts, _mm_cmplt_epi8(w, below));
            }
            if (i + 16 <= size && i + 32 > size) {
                const __m128i v = wide::load16(text + i);
                high = _mm_max_epu8(high, v);
                counts = _mm_sub_epi8(counts, _mm_cmplt_epi8(v, below));
                i += 16;
            }
            if (i < size && i + 16 > size) {
                const __m128i v = wide::load16(text + size - 16);
                const __m128i fresh = wide::load16(kTailLanes + (size - i));
                high = _mm_max_epu8(high, v);
                counts = _mm_sub_epi8(counts, _mm_and_si128(_mm_cmplt_epi8(v, below), fresh));
                i = size;
            }
            const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
            continuation += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                            static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
        }
        return Measure{size - continuation, wide::max_byte(high)};
    }
#endif
    // Short texts: all-ASCII ones (most of them) in two overlapping loads.
    std::uint64_t any = 0;
    if (size >= 8) {
        any = wide::load8(text) | wide::load8(text + size - 8);
    } else if (size >= 4) {
        std::uint32_t a, b;
        std::memcpy(&a, text, 4);
        std::memcpy(&b, text + size - 4, 4);
        any = a | b;
    } else {
        for (std::size_t i = 0; i < size; ++i) any |= text[i];
    }
    if ((any & wide::kHighs) == 0) return Measure{size, 0x7F};
    unsigned char top = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char b = text[i];
        top = b > top ? b : top;
        continuation += (b & 0xC0) == 0x80;
    }
    return Measure{size - continuation, top};
}

namespace {

// Decodes the sequence at text[i] (a byte >= 0x80) into `cp` and moves `i`
// past it; false for anything that is not one well-formed character.
inline bool decode_sequence(const unsigned char* text, std::size_t size, std::size_t& i, char32_t& cp) noexcept {
    const unsigned char b0 = text[i];
    if (size - i >= 4) [[likely]] {
        // Four bytes are there to read: the continuation bytes are checked
        // together, with no test of the length per byte.
        const unsigned b1 = text[i + 1], b2 = text[i + 2], b3 = text[i + 3];
        if (b0 < 0xE0) {
            if (b0 < 0xC2 || (b1 & 0xC0) != 0x80) return false;
            cp = static_cast<char32_t>((b0 & 0x1Fu) << 6 | (b1 & 0x3Fu));
            i += 2;
            return true;
        }
        if (b0 < 0xF0) {
            if ((((b1 & 0xC0) ^ 0x80) | ((b2 & 0xC0) ^ 0x80)) != 0) return false;
            cp = static_cast<char32_t>((b0 & 0x0Fu) << 12 | (b1 & 0x3Fu) << 6 | (b2 & 0x3Fu));
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return false;  // overlong, surrogate
            i += 3;
            return true;
        }
        if (b0 >= 0xF5 || (((b1 & 0xC0) ^ 0x80) | ((b2 & 0xC0) ^ 0x80) | ((b3 & 0xC0) ^ 0x80)) != 0) return false;
        cp = static_cast<char32_t>((b0 & 0x07u) << 18 | (b1 & 0x3Fu) << 12 | (b2 & 0x3Fu) << 6 | (b3 & 0x3Fu));
        if (cp < 0x10000 || cp > 0x10FFFF) return false;
        i += 4;
        return true;
    }
    auto cont = [&](std::size_t k) -> int {
        if (i + k >= size) return -1;
        const unsigned char b = text[i + k];
        return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
    };
    if (b0 < 0xC2) return false;  // a continuation byte, or an overlong lead
    if (b0 < 0xE0) {
        const int c1 = cont(1);
        if (c1 < 0) return false;
        cp = static_cast<char32_t>((b0 & 0x1F) << 6 | c1);
        i += 2;
        return true;
    }
    if (b0 < 0xF0) {
        const int c1 = cont(1), c2 = c1 < 0 ? -1 : cont(2);
        if (c2 < 0) return false;
        cp = static_cast<char32_t>((b0 & 0x0F) << 12 | c1 << 6 | c2);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return false;  // overlong, surrogate
        i += 3;
        return true;
    }
    if (b0 < 0xF5) {
        const int c1 = cont(1), c2 = c1 < 0 ? -1 : cont(2), c3 = c2 < 0 ? -1 : cont(3);
        if (c3 < 0) return false;
        cp = static_cast<char32_t>((b0 & 0x07) << 18 | c1 << 12 | c2 << 6 | c3);
        if (cp < 0x10000 || cp > 0x10FFFF) return false;
        i += 4;
        return true;
    }
    return false;
}

#if TORVEX_SSE2
// Stores the 16 bytes of v as 16 units at out.
template <class Unit>
inline void store16(__m128i v, Unit* out) noexcept {
    const __m128i zero = _mm_setzero_si128();
    if constexpr (sizeof(Unit) == 1) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    } else if constexpr (sizeof(Unit) == 2) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, zero));
    } else {
        const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpacklo_epi16(hi, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm_unpackhi_epi16(hi, zero));
    }
}
#endif

// A run of non-ASCII characters (a word of a script other than Latin) from
// text[i], decoded without going back to the ASCII test in between; false
// at a malformed sequence, a character too wide for Unit, or no room.
template <class Unit>
inline bool decode_non_ascii(const unsigned char* text, std::size_t size, std::size_t& i, Unit* out, std::size_t& o,
                             std::size_t chars) noexcept {
    constexpr char32_t limit = sizeof(Unit) == 1 ? 0xFF : sizeof(Unit) == 2 ? 0xFFFF : 0x10FFFF;
    do {
        char32_t cp = 0;
        if (!decode_sequence(text, size, i, cp) || cp > limit || o == chars) return false;
        out[o++] = static_cast<Unit>(cp);
    } while (i < size && text[i] >= 0x80);
    return true;
}

template <class Unit>
bool decode_into(const unsigned char* text, std::size_t size, Unit* out, std::size_t chars) noexcept {
    std::size_t i = 0, o = 0;
    // o <= chars throughout, so nothing is written past out + chars even when
    // the text is malformed and `chars` is therefore wrong. ASCII goes 16
    // bytes (else 8) at a time: all of them are stored when there is room,
    // and the cursors move past the ASCII ones; the units stored for the
    // bytes after those are overwritten by what follows.
    while (i < size) {
#if TORVEX_SSE2
        if (i + 16 <= size && chars - o >= 16) {
            const __m128i v = wide::load16(text + i);
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(v));
            store16(v, out + o);
            const std::size_t run = mask == 0 ? 16 : static_cast<std::size_t>(std::countr_zero(mask));
            i += run;
            o += run;
            if (mask == 0) continue;
        } else
#endif
        if (i + 8 <= size && chars - o >= 8) {
            const std::uint64_t word = wide::load8(text + i);
            const std::uint64_t high = word & wide::kHighs;
            for (std::size_t k = 0; k < 8; ++k) out[o + k] = static_cast<Unit>((word >> (8 * k)) & 0xFF);
            const std::size_t run = high == 0 ? 8 : wide::first_flagged(high);
            i += run;
            o += run;
            if (high == 0) continue;
        } else if (text[i] < 0x80) {
            if (o == chars) return false;
            out[o++] = text[i++];
            continue;
        }
        if (!decode_non_ascii(text, size, i, out, o, chars)) return false;
    }
    return o == chars;
}

#if TORVEX_UTF8_AVX2
// Stores the 32 bytes at p as 32 units at out.
template <class Unit>
[[gnu::target("avx2")]] inline void store32(const unsigned char* p, Unit* out) noexcept {
    auto at = [](auto* q) { return reinterpret_cast<__m256i*>(q); };
    if constexpr (sizeof(Unit) == 1) {
        _mm256_storeu_si256(at(out), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    } else if constexpr (sizeof(Unit) == 2) {
        for (int k = 0; k < 2; ++k)
            _mm256_storeu_si256(at(out + 16 * k),
                                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k))));
    } else {
        for (int k = 0; k < 4; ++k)
            _mm256_storeu_si256(at(out + 8 * k),
                                _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 8 * k))));
    }
}

// decode_into with ASCII moved 32 bytes at a time; the rest as there.
template <class Unit>
[[gnu::target("avx2")]] bool decode_into_avx2(const unsigned char* text, std::size_t size, Unit* out,
                                              std::size_t chars) noexcept {
    std::size_t i = 0, o = 0;
    while (i + 32 <= size && chars - o >= 32) {
        const auto mask = static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i))));
        store32(text + i, out + o);
        const std::size_t run = mask == 0 ? 32 : static_cast<std::size_t>(std::countr_zero(mask));
        i += run;
        o += run;
        if (mask != 0 && !decode_non_ascii(text, size, i, out, o, chars)) return false;
    }
    if (i == size) return o == chars;
    // Most texts end in ASCII: where the last 32 bytes are, the last ones
    // are stored by one move of those 32 (the units it rewrites before `o`
    // came from the same ASCII bytes, one each). The rest as decode_into does them.
    if (size - i <= 32 && chars - o == size - i && chars >= 32 &&
        _mm256_movemask_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + size - 32))) == 0) {
        store32(text + size - 32, out + chars - 32);
        return true;
    }
    return decode_into(text + i, size - i, out + o, chars - o);
}
#endif

template <class Unit>
bool decode_any(const unsigned char* text, std::size_t size, Unit* out, std::size_t chars) noexcept {
#if TORVEX_UTF8_AVX2
    if (size >= 64 && has_avx2()) return decode_into_avx2(text, size, out, chars);
#endif
    return decode_into(text, size, out, chars);
}

}  // namespace

bool decode_units(const unsigned char* text, std::size_t size, std::uint8_t* out, std::size_t chars) noexcept {
    return decode_any(text, size, out, chars);
}
bool decode_units(const unsigned char* text, std::size_t size, std::uint16_t* out, std::size_t chars) noexcept {
    return decode_any(text, size, out, chars);
}
bool decode_units(const unsigned char* text, std::size_t size, std::uint32_t* out, std::size_t chars) noexcept {
    return decode_any(text, size, out, chars);
}

}  // namespace torvex::utf8
