// Code units (a str's storage) to UTF-8, with blocks of 16 ASCII units
// narrowed whole (core/narrow_units.hpp).
// Texts are ASCII for the most part even when a few characters make a str
// wide, so the common block costs a handful of instructions.
#include <algorithm>
#include <cstring>

#include "core/narrow_units.hpp"
#include "core/utf8_units.hpp"
#include "core/wide_bytes.hpp"

namespace torvex::utf8 {

namespace {

// Sixteen units stored at `d` as bytes, and one bit per unit that is not
// ASCII (its byte is junk; the caller writes it again). `d` has room for 16
// bytes.
template <class Unit>
inline unsigned narrow16(const Unit* p, char* d) noexcept {
#if TORVEX_SSE2
    const units::Narrowed16 n = units::narrow16(p);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), n.bytes);
    return n.non_ascii;
#else
    unsigned bits = 0;
    for (unsigned k = 0; k < 16; ++k) {
        d[k] = static_cast<char>(p[k]);
        bits |= static_cast<unsigned>(p[k] >= 0x80) << k;
    }
    return bits;
#endif
}

// One code point at `d`; false for a surrogate.
inline bool put(std::uint32_t c, char*& d) noexcept {
    if (units::is_surrogate(c)) return false;
    d = units::put_utf8(c, d);
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
