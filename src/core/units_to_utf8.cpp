// Code units (a str's storage) to UTF-8, with blocks of 16 ASCII units
// narrowed whole.
// Texts are ASCII for the most part even when a few characters make a str
// wide, so the common block costs a handful of instructions.
#include <algorithm>
#include <cstring>

#include "core/utf8_units.hpp"
#include "core/wide_bytes.hpp"

namespace torvex::utf8 {

namespace {

// Sixteen units stored at `d` as bytes, and one bit per unit that is not
// ASCII (its byte is junk; the caller writes it again). `d` has room for 16
// bytes.
#if TORVEX_SSE2
inline unsigned narrow16(const std::uint8_t* p, char* d) noexcept {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
    return static_cast<unsigned>(_mm_movemask_epi8(v));
}

inline unsigned narrow16(const std::uint16_t* p, char* d) noexcept {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(a, b));
    const __m128i ascii = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(a, high), zero),
                                          _mm_cmpeq_epi16(_mm_and_si128(b, high), zero));
    return ~static_cast<unsigned>(_mm_movemask_epi8(ascii)) & 0xFFFF;
}

inline unsigned narrow16(const std::uint32_t* p, char* d) noexcept {
    const auto load = [p](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * k)); };
    const __m128i high = _mm_set1_epi32(static_cast<int>(0xFFFFFF80));
    const __m128i zero = _mm_setzero_si128();
    const auto is_ascii = [&](__m128i v) { return _mm_cmpeq_epi32(_mm_and_si128(v, high), zero); };
    const __m128i v0 = load(0), v1 = load(1), v2 = load(2), v3 = load(3);
    // Code points are below 2^31: the signed narrowing keeps ASCII units exact.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(_mm_packs_epi32(v0, v1), _mm_packs_epi32(v2, v3)));
    const __m128i ascii = _mm_packs_epi16(_mm_packs_epi32(is_ascii(v0), is_ascii(v1)),
                                          _mm_packs_epi32(is_ascii(v2), is_ascii(v3)));
    return ~static_cast<unsigned>(_mm_movemask_epi8(ascii)) & 0xFFFF;
}
#else
template <class Unit>
inline unsigned narrow16(const Unit* p, char* d) noexcept {
    unsigned bits = 0;
    for (unsigned k = 0; k < 16; ++k) {
        d[k] = static_cast<char>(p[k]);
        bits |= static_cast<unsigned>(p[k] >= 0x80) << k;
    }
    return bits;
}
#endif

// One code point at `d`; false for a surrogate.
inline bool put(std::uint32_t c, char*& d) noexcept {
    if (c < 0x80) {
        *d++ = static_cast<char>(c);
    } else if (c < 0x800) {
        d[0] = static_cast<char>(0xC0 | (c >> 6));
        d[1] = static_cast<char>(0x80 | (c & 0x3F));
        d += 2;
    } else if (c < 0x10000) {
        if ((c & 0xF800) == 0xD800) return false;
        d[0] = static_cast<char>(0xE0 | (c >> 12));
        d[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        d[2] = static_cast<char>(0x80 | (c & 0x3F));
        d += 3;
    } else {
        d[0] = static_cast<char>(0xF0 | (c >> 18));
        d[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        d[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        d[3] = static_cast<char>(0x80 | (c & 0x3F));
        d += 4;
    }
    return true;
}

template <class Unit>
bool encode(const Unit* p, std::size_t n, std::string& out) {
    // Room for mostly-ASCII text, the common case, with no pass to count the
    // exact length; grown (doubling, up to what the rest could need at most)
    // where other characters take more.
    constexpr std::size_t kMostPerUnit = sizeof(Unit) == 1 ? 2 : sizeof(Unit) == 2 ? 3 : 4;
    constexpr std::size_t kBlockRoom = 16 * kMostPerUnit;
    out.resize(n + n / 8 + kBlockRoom);
    // Kept in locals: a store through a char pointer might change the
    // string's own fields as far as the compiler knows.
    char* d = out.data();
    char* room_end = d + out.size() - kBlockRoom;
    std::size_t i = 0;
    while (i < n) {
        if (d > room_end) [[unlikely]] {
            const auto o = static_cast<std::size_t>(d - out.data());
            out.resize(std::min(2 * out.size(), o + kMostPerUnit * (n - i) + kBlockRoom));
            d = out.data() + o;
            room_end = out.data() + out.size() - kBlockRoom;
        }
        if (n - i >= 16) {
            const unsigned bits = narrow16(p + i, d);
            if (bits == 0) {
                i += 16;
                d += 16;
                continue;
            }
            // The units before the first other one are in place.
            const auto k = static_cast<std::size_t>(__builtin_ctz(bits));
            i += k;
            d += k;
        }
        if (!put(p[i], d)) return false;
        ++i;
    }
    out.resize(static_cast<std::size_t>(d - out.data()));
    return true;
}

}  // namespace

bool encode_units(const void* units, std::size_t n, unsigned width, std::string& out) {
    switch (width) {
        case 1: return encode(static_cast<const std::uint8_t*>(units), n, out);
        case 2: return encode(static_cast<const std::uint16_t*>(units), n, out);
        default: return encode(static_cast<const std::uint32_t*>(units), n, out);
    }
}

}  // namespace torvex::utf8
