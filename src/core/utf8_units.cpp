#include "core/utf8_units.hpp"

#include <bit>
#include <cstring>
#include <type_traits>

#include "core/wide_bytes.hpp"

namespace torvex::utf8 {

Measure measure(const unsigned char* text, std::size_t size) noexcept {
    std::size_t i = 0;
    std::size_t continuation = 0;
    unsigned char top = 0;
#if TORVEX_SSE2
    // Per 16 bytes: the running maximum, and a per-lane count of continuation
    // bytes (0x80..0xBF: below -64 as signed bytes), folded into `continuation`
    // before a lane can overflow.
    const __m128i below = _mm_set1_epi8(-64);
    __m128i high = _mm_setzero_si128();
    while (i + 16 <= size) {
        __m128i counts = _mm_setzero_si128();
        for (int k = 0; k < 255 && i + 16 <= size; ++k, i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
            high = _mm_max_epu8(high, v);
            counts = _mm_sub_epi8(counts, _mm_cmplt_epi8(v, below));
        }
        const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
        continuation += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                        static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
    top = wide::max_byte(high);
#endif
    for (; i < size; ++i) {
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

// Stores 16 ASCII bytes as 16 units at out.
template <class Unit>
inline void store_ascii16([[maybe_unused]] const unsigned char* src, [[maybe_unused]] Unit* out) noexcept {
#if TORVEX_SSE2
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
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
#endif
}

// Copies `count` ASCII bytes as units.
template <class Unit>
inline void copy_ascii(const unsigned char* src, std::size_t count, Unit* out) noexcept {
    if constexpr (sizeof(Unit) == 1) {
        std::memcpy(out, src, count);
    } else {
        std::size_t k = 0;
#if TORVEX_SSE2
        for (; k + 16 <= count; k += 16) store_ascii16(src + k, out + k);
#endif
        for (; k < count; ++k) out[k] = src[k];
    }
}

template <class Unit>
bool decode_into(const unsigned char* text, std::size_t size, Unit* out, std::size_t chars) noexcept {
    constexpr char32_t limit = sizeof(Unit) == 1 ? 0xFF : sizeof(Unit) == 2 ? 0xFFFF : 0x10FFFF;
    std::size_t i = 0, o = 0;
    // o <= chars throughout: nothing is written past out + chars even when
    // the text is malformed and `chars` therefore wrong.
    while (i < size) {
        if (text[i] < 0x80) {
            const std::size_t end = wide::ascii_end(text, i, size);
            if (end - i > chars - o) return false;
            copy_ascii(text + i, end - i, out + o);
            o += end - i;
            i = end;
            continue;
        }
        char32_t cp = 0;
        if (!decode_sequence(text, size, i, cp) || cp > limit || o == chars) return false;
        out[o++] = static_cast<Unit>(cp);
    }
    return o == chars;
}

}  // namespace

bool decode_units(const unsigned char* text, std::size_t size, std::uint8_t* out, std::size_t chars) noexcept {
    return decode_into(text, size, out, chars);
}
bool decode_units(const unsigned char* text, std::size_t size, std::uint16_t* out, std::size_t chars) noexcept {
    return decode_into(text, size, out, chars);
}
bool decode_units(const unsigned char* text, std::size_t size, std::uint32_t* out, std::size_t chars) noexcept {
    return decode_into(text, size, out, chars);
}

}  // namespace torvex::utf8
