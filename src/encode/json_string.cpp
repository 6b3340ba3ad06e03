#include "encode/json_string.hpp"

#include <emmintrin.h>
#include <immintrin.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace torvex {

namespace {

using u8 = unsigned char;

constexpr std::array<bool, 256> make_escape_table() {
    std::array<bool, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[c] = true;
    t['"'] = true;
    t['\\'] = true;
    t[0xE2] = true;  // lead byte of U+2028 and U+2029
    return t;
}
constexpr auto kEscape = make_escape_table();

// One bit per byte of v that needs a look: a control character, the quote,
// the backslash, or 0xE2 (which may start U+2028/U+2029).
inline unsigned special_bits(__m128i v) noexcept {
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);  // v <= 0x1F
    const __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
    const __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
    const __m128i lead = _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xE2)));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(control, quote), _mm_or_si128(backslash, lead))));
}

inline __m128i load8(const u8* p) noexcept { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline __m128i load4(const u8* p) noexcept {
    std::int32_t w;
    std::memcpy(&w, p, 4);
    return _mm_cvtsi32_si128(w);
}
inline unsigned first_bit(unsigned bits) noexcept { return static_cast<unsigned>(__builtin_ctz(bits)); }

// Long texts go 32 bytes at a time where the processor has AVX2 (asked once,
// when the module loads; the answer never changes).
bool detect_avx2() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
const bool kHaveAvx2 = detect_avx2();

// Copies whole 32-byte blocks of src[0, n) to dst until one holds a byte that
// needs a look; returns the index of that block, or of the first byte after
// the last whole block.
[[gnu::target("avx2")]] std::size_t copy_blocks_avx2(const u8* src, std::size_t n, char* dst) noexcept {
    const __m256i limit = _mm256_set1_epi8(0x1F);
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i lead = _mm256_set1_epi8(static_cast<char>(0xE2));
    std::size_t i = 0;
    for (; n - i >= 32; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        const __m256i special =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(v, limit), v), _mm256_cmpeq_epi8(v, quote)),
                            _mm256_or_si256(_mm256_cmpeq_epi8(v, backslash), _mm256_cmpeq_epi8(v, lead)));
        if (_mm256_movemask_epi8(special) != 0) break;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), v);
    }
    return i;
}

}  // namespace

// Tails shorter than a block are read as two overlapping halves, so short
// keys need no byte loop.
std::size_t json_string_detail::copy_plain(const u8* src, std::size_t n, char* dst) noexcept {
    std::size_t i = (n >= 64 && kHaveAvx2) ? copy_blocks_avx2(src, n, dst) : 0;
    for (; n - i >= 16; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
        if (const unsigned bits = special_bits(v)) return i + first_bit(bits);
    }
    const std::size_t rest = n - i;
    if (rest >= 8) {
        const __m128i low = load8(src + i);
        const __m128i high = load8(src + n - 8);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), low);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + n - 8), high);
        const unsigned bits = special_bits(_mm_unpacklo_epi64(low, high));
        if (bits == 0) return n;
        return (bits & 0xFF) ? i + first_bit(bits) : n - 8 + first_bit(bits >> 8);
    }
    if (rest >= 4) {
        const __m128i low = load4(src + i);
        const __m128i high = load4(src + n - 4);
        std::memcpy(dst + i, src + i, 4);
        std::memcpy(dst + n - 4, src + n - 4, 4);
        const unsigned bits = special_bits(_mm_unpacklo_epi32(low, high)) & 0xFF;  // lanes 8..15 are zero
        if (bits == 0) return n;
        return (bits & 0xF) ? i + first_bit(bits) : n - 4 + first_bit(bits >> 4);
    }
    for (; i < n; ++i) {
        dst[i] = static_cast<char>(src[i]);
        if (kEscape[src[i]]) return i;
    }
    return n;
}

namespace {

using json_string_detail::copy_plain;

// The escape for a byte flagged by the table other than 0xE2; returns its length.
inline std::size_t escape_byte(u8 c, char* to) noexcept {
    static constexpr char kHex[] = "0123456789abcdef";
    to[0] = '\\';
    switch (c) {
        case '\b': to[1] = 'b'; return 2;
        case '\t': to[1] = 't'; return 2;
        case '\n': to[1] = 'n'; return 2;
        case '\f': to[1] = 'f'; return 2;
        case '\r': to[1] = 'r'; return 2;
        case '"': to[1] = '"'; return 2;
        case '\\': to[1] = '\\'; return 2;
        default:
            std::memcpy(to + 1, "u00", 3);
            to[4] = kHex[c >> 4];
            to[5] = kHex[c & 0xF];
            return 6;
    }
}

}  // namespace

void json_string_detail::append_escaped_rest(OutBuffer& out, const u8* p, std::size_t n, std::size_t i) {
    // Room for the rest unescaped and the closing quote; each escape below
    // makes room for what it adds.
    char* d = out.reserve(n - i + 1);
    for (;;) {
        const u8 c = p[i];
        if (c == 0xE2 && !(n - i >= 3 && p[i + 1] == 0x80 && (p[i + 2] == 0xA8 || p[i + 2] == 0xA9))) {
            *d++ = static_cast<char>(c);  // another character starting with 0xE2
            ++i;
        } else {
            // Commit what is written, then room for the escape (at most 6
            // bytes), the rest of the text and the closing quote.
            out.advance(static_cast<std::size_t>(d - (out.data() + out.size())));
            d = out.reserve(6 + (n - i) + 1);
            if (c == 0xE2) {
                std::memcpy(d, p[i + 2] == 0xA8 ? "\\u2028" : "\\u2029", 6);
                d += 6;
                i += 3;
            } else {
                d += escape_byte(c, d);
                i += 1;
            }
        }
        const std::size_t plain = copy_plain(p + i, n - i, d);
        d += plain;
        i += plain;
        if (i == n) break;
    }
    *d++ = '"';
    out.advance(static_cast<std::size_t>(d - (out.data() + out.size())));
}

}  // namespace torvex
