#include "encode/json_string.hpp"

#include <emmintrin.h>
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "core/narrow_units.hpp"

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

// special_bits over 32 bytes.
[[gnu::target("avx2"), gnu::always_inline]] inline unsigned special_bits_avx2(__m256i v) noexcept {
    const __m256i control = _mm256_cmpeq_epi8(_mm256_min_epu8(v, _mm256_set1_epi8(0x1F)), v);
    const __m256i quote = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('"'));
    const __m256i backslash = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\'));
    const __m256i lead = _mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(0xE2)));
    return static_cast<unsigned>(
        _mm256_movemask_epi8(_mm256_or_si256(_mm256_or_si256(control, quote), _mm256_or_si256(backslash, lead))));
}

// Copies whole 32-byte blocks of src[0, n) to dst until one holds a byte that
// needs a look; returns the index of that block, or of the first byte after
// the last whole block.
[[gnu::target("avx2")]] std::size_t copy_blocks_avx2(const u8* src, std::size_t n, char* dst) noexcept {
    std::size_t i = 0;
    for (; n - i >= 32; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        if (special_bits_avx2(v) != 0) break;
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

// Where the escaping loops stand: the text still to write [src, end) and
// the room [dst, limit) reserved for it. The block loops store whole blocks
// before they look at them, so they keep the room at least kBlockRoom bytes
// wider than the rest of the text.
struct EscapeCursor {
    const u8* src;
    const u8* end;
    char* dst;
    char* limit;
};
constexpr std::size_t kBlockRoom = 64;

// Writes the flagged byte at c.src (its escape, or the byte itself when an
// 0xE2 starts another character) and steps past it. False when the room
// left is too narrow for the block loops to go on.
inline bool write_flagged(EscapeCursor& c) noexcept {
    const u8 byte = *c.src;
    if (byte != 0xE2) {
        c.dst += escape_byte(byte, c.dst);
        c.src += 1;
    } else if (c.end - c.src >= 3 && c.src[1] == 0x80 && (c.src[2] == 0xA8 || c.src[2] == 0xA9)) {
        std::memcpy(c.dst, c.src[2] == 0xA8 ? "\\u2028" : "\\u2029", 6);
        c.dst += 6;
        c.src += 3;
    } else {
        *c.dst++ = static_cast<char>(byte);
        c.src += 1;
    }
    return static_cast<std::size_t>(c.limit - c.dst) >= static_cast<std::size_t>(c.end - c.src) + kBlockRoom;
}

// After a block of `width` bytes stored as read, with `bits` flagged: steps
// past it, or to its first flagged byte and past that byte's escape. False
// when the room runs low.
inline bool after_block(EscapeCursor& c, unsigned bits, std::size_t width) noexcept {
    if (bits == 0) {
        c.src += width;
        c.dst += width;
        return true;
    }
    const unsigned k = first_bit(bits);
    c.src += k;
    c.dst += k;
    return write_flagged(c);
}

// Text with escapes every line or so (multi-line strings): each block is
// stored as read; at its first flagged byte the escape overwrites the rest
// of the block and the next block starts right after it, so no byte is
// looked at twice and there is no call per escape. Stops with fewer than 32
// bytes left or when the room runs low.
[[gnu::target("avx2")]] void escape_blocks_avx2(EscapeCursor& c) noexcept {
    while (c.end - c.src >= 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.src));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.dst), v);
        if (!after_block(c, special_bits_avx2(v), 32)) return;
    }
}

// The same 16 bytes at a time: the portable loop, and the tail of the AVX2 one.
void escape_blocks_sse2(EscapeCursor& c) noexcept {
    while (c.end - c.src >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.src));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(c.dst), v);
        if (!after_block(c, special_bits(v), 16)) return;
    }
}

// One code point as UTF-8 or its escape, at most six bytes. False for a
// surrogate.
inline bool put_code_point(std::uint32_t c, char*& d) noexcept {
    if (c < 0x80) {
        if (kEscape[c]) {
            d += escape_byte(static_cast<u8>(c), d);
        } else {
            *d++ = static_cast<char>(c);
        }
        return true;
    }
    if (c >= 0x800) {
        if (units::is_surrogate(c)) return false;
        if (c == 0x2028 || c == 0x2029) {
            std::memcpy(d, c == 0x2028 ? "\\u2028" : "\\u2029", 6);
            d += 6;
            return true;
        }
    }
    d = units::put_utf8(c, d);
    return true;
}

// Sixteen code units narrowed to bytes and stored as read, and one bit per
// unit that is not plain ASCII or needs an escape: a block of plain ASCII
// units costs a few instructions; the rest go one code point at a time.
template <class Unit>
inline unsigned narrow16(const Unit* p, char* d) noexcept {
    const units::Narrowed16 n = units::narrow16(p);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), n.bytes);
    return n.non_ascii | special_bits(n.bytes);
}

template <class Unit>
bool append_units(OutBuffer& out, const Unit* p, std::size_t n) {
    // The room is reserved a stretch at a time, six bytes a unit (the
    // longest a unit becomes), so a long text does not reserve six times
    // its length at once.
    constexpr std::size_t kStretch = 4096;
    const auto reserve = [&](std::size_t units) { return out.reserve(6 * std::min(units, kStretch) + 16 + 2); };
    char* d = reserve(n);
    char* committed = d;
    *d++ = '"';
    std::size_t i = 0;
    for (;;) {
        const std::size_t stop = std::min(n, i + kStretch);
        while (stop - i >= 16) {
            const unsigned bits = narrow16(p + i, d);
            if (bits == 0) {
                i += 16;
                d += 16;
                continue;
            }
            const unsigned k = first_bit(bits);
            i += k;
            d += k;
            if (!put_code_point(p[i], d)) return false;
            ++i;
        }
        for (; i < stop; ++i) {
            if (!put_code_point(p[i], d)) return false;
        }
        if (i == n) break;
        out.advance(static_cast<std::size_t>(d - committed));
        d = committed = reserve(n - i);
    }
    *d++ = '"';
    out.advance(static_cast<std::size_t>(d - committed));
    return true;
}

}  // namespace

bool append_json_string_units(OutBuffer& out, const void* units, std::size_t n, unsigned width) {
    switch (width) {
        case 1: return append_units(out, static_cast<const std::uint8_t*>(units), n);
        case 2: return append_units(out, static_cast<const std::uint16_t*>(units), n);
        default: return append_units(out, static_cast<const std::uint32_t*>(units), n);
    }
}

void json_string_detail::append_escaped_rest(OutBuffer& out, const u8* p, std::size_t n, std::size_t i) {
    EscapeCursor c{p + i, p + n, nullptr, nullptr};
    // Room for the rest with a fifth more for escapes (one line feed in a
    // line of text costs a byte), renewed when escapes use it up.
    const auto renew_room = [&](std::size_t extra) {
        out.advance(static_cast<std::size_t>(c.dst - (out.data() + out.size())));
        const auto rest = static_cast<std::size_t>(c.end - c.src);
        const std::size_t room = rest + rest / 4 + kBlockRoom + extra;
        c.dst = out.reserve(room);
        c.limit = c.dst + room;
    };
    c.dst = out.data() + out.size();
    renew_room(0);
    for (;;) {
        if (c.end - c.src >= 64 && kHaveAvx2) escape_blocks_avx2(c);
        escape_blocks_sse2(c);
        if (c.end - c.src < 16) break;
        renew_room(0);
    }
    // Fewer than 16 bytes: each may take six, and the closing quote one.
    renew_room(6 * 16 + 1);
    while (c.src < c.end) {
        if (kEscape[*c.src]) {
            write_flagged(c);
        } else {
            *c.dst++ = static_cast<char>(*c.src++);
        }
    }
    *c.dst++ = '"';
    out.advance(static_cast<std::size_t>(c.dst - (out.data() + out.size())));
}

}  // namespace torvex
