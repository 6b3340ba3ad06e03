#include "encode/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "encode/number_text.hpp"

namespace torvex {

namespace {

// Shortest round-trip digits (no sign, no point) and the decimal exponent of
// the first digit. `value` is finite.
struct Digits {
    char d[24];
    int count = 0;
    int exp10 = 0;
    bool negative = false;
};

constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                             1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
constexpr int kMaxFraction = 17;
// Below this, v * 10^k is within a quarter of the integer it is meant to be
// (its own rounding and the input's are each under 1/8 of a unit).
constexpr double kExactScaled = 0x1p50;

// A finite |v| as m / 10^k.
struct Scaled {
    std::uint64_t m;
    int k;
};

// The common case of data, a number with few decimals (61.34, 0.8652, 7.0):
// the smallest k for which m = round(|v| * 10^k) gives back v as m / 10^k.
// Both m and 10^k are exact doubles, so m / 10^k is the double that the text
// m*10^-k reads as; no text with fewer digits reads as v (each smaller k was
// tried, and rounding found the only integer near enough at each), and no
// other m with k digits does either (10^-k exceeds v's spacing here). These
// are the shortest digits, the ones the general routine finds. Below 2^52,
// adding and taking away 2^52 rounds to the nearest integer (ties to even,
// as nearbyint does) without a call.
bool few_decimals(double magnitude, Scaled& r) noexcept {
    for (int k = 0; k <= kMaxFraction; ++k) {
        const double scaled = magnitude * kPow10[k];
        if (!(scaled < kExactScaled)) return false;
        const double m = (scaled + 0x1p52) - 0x1p52;
        if (m / kPow10[k] != magnitude) continue;
        r = Scaled{static_cast<std::uint64_t>(m), k};
        return true;
    }
    return false;
}

// The digits and exponent of m / 10^k, trailing zeros dropped.
void scaled_digits(Scaled s, Digits& r) noexcept {
    char text[24];
    const int length = static_cast<int>(std::to_chars(text, text + sizeof text, s.m).ptr - text);
    int count = length;
    while (count > 1 && text[count - 1] == '0') --count;  // only when k is 0: 1200 is 12e2
    std::memcpy(r.d, text, static_cast<std::size_t>(count));
    r.count = count;
    r.exp10 = s.m == 0 ? 0 : length - 1 - s.k;
}

// JSON text of m / 10^k with its sign: the whole part, the point and k
// digits of fraction (leading zeros kept), or ".0" when k is 0.
std::size_t json_scaled_text(bool negative, Scaled s, char* out) noexcept {
    char* o = out;
    if (negative) *o++ = '-';
    if (s.k == 0) {
        o = number_text_detail::write_decimal(s.m, o);
        std::memcpy(o, ".0", 2);
        return static_cast<std::size_t>(o + 2 - out);
    }
    const auto scale = static_cast<std::uint64_t>(kPow10[s.k]);
    const std::uint64_t whole = s.m / scale;
    o = number_text_detail::write_decimal(whole, o);
    *o++ = '.';
    // The k digits of the fraction, two at a time from the end.
    std::uint64_t fraction = s.m - whole * scale;
    char* const end = o + s.k;
    char* p = end;
    while (p - o >= 2) {
        p -= 2;
        std::memcpy(p, number_text_detail::kDigitPairs + 2 * (fraction % 100), 2);
        fraction /= 100;
    }
    if (p > o) *o = static_cast<char>('0' + fraction);
    return static_cast<std::size_t>(end - out);
}

Digits shortest_digits(double value) noexcept {
    Digits r;
    r.negative = std::signbit(value);
    if (Scaled scaled; few_decimals(std::fabs(value), scaled)) {
        scaled_digits(scaled, r);
        return r;
    }
    char sci[40];
    const auto res = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific);
    const char* p = sci;
    // "d[.ddd]e±XX"
    r.d[r.count++] = *p++;
    if (*p == '.') {
        ++p;
        while (*p != 'e') r.d[r.count++] = *p++;
    }
    ++p;  // 'e'
    const bool neg_exp = *p == '-';
    ++p;
    int e = 0;
    while (p < res.ptr) e = e * 10 + (*p++ - '0');
    r.exp10 = neg_exp ? -e : e;
    return r;
}

// Plain decimal form of the digits (no exponent). Returns the length and
// reports whether a "." was written.
std::size_t plain_decimal(const Digits& g, char* out, bool& has_point) noexcept {
    char* o = out;
    if (g.negative) *o++ = '-';
    has_point = false;
    if (g.exp10 < 0) {
        *o++ = '0';
        *o++ = '.';
        has_point = true;
        for (int i = -1; i > g.exp10; --i) *o++ = '0';
        std::memcpy(o, g.d, static_cast<std::size_t>(g.count));
        o += g.count;
    } else {
        const int int_digits = g.exp10 + 1;
        if (g.count <= int_digits) {
            std::memcpy(o, g.d, static_cast<std::size_t>(g.count));
            o += g.count;
            for (int i = g.count; i < int_digits; ++i) *o++ = '0';
        } else {
            std::memcpy(o, g.d, static_cast<std::size_t>(int_digits));
            o += int_digits;
            *o++ = '.';
            has_point = true;
            std::memcpy(o, g.d + int_digits, static_cast<std::size_t>(g.count - int_digits));
            o += g.count - int_digits;
        }
    }
    return static_cast<std::size_t>(o - out);
}

std::size_t copy_text(const char* s, char* out) noexcept {
    const std::size_t n = std::strlen(s);
    std::memcpy(out, s, n);
    return n;
}

}  // namespace

std::size_t yaml_float_text(double value, char* out) noexcept {
    if (std::isnan(value)) return copy_text(".nan", out);
    if (std::isinf(value)) return copy_text(value > 0 ? ".inf" : "-.inf", out);
    const Digits g = shortest_digits(value);
    if (g.exp10 >= -4 && g.exp10 < 16) {
        bool has_point = false;
        std::size_t n = plain_decimal(g, out, has_point);
        if (!has_point) {
            out[n++] = '.';
            out[n++] = '0';
        }
        return n;
    }
    char* o = out;
    if (g.negative) *o++ = '-';
    *o++ = g.d[0];
    *o++ = '.';
    if (g.count > 1) {
        std::memcpy(o, g.d + 1, static_cast<std::size_t>(g.count - 1));
        o += g.count - 1;
    } else {
        *o++ = '0';
    }
    *o++ = 'e';
    *o++ = g.exp10 < 0 ? '-' : '+';
    const int mag = g.exp10 < 0 ? -g.exp10 : g.exp10;
    if (mag < 10) *o++ = '0';
    o = std::to_chars(o, o + 4, mag).ptr;
    return static_cast<std::size_t>(o - out);
}

std::size_t json_float_text(double value, char* out) noexcept {
    if (!std::isfinite(value)) return copy_text("null", out);
    if (Scaled scaled; few_decimals(std::fabs(value), scaled)) return json_scaled_text(std::signbit(value), scaled, out);
    const Digits g = shortest_digits(value);
    bool has_point = false;
    std::size_t n = plain_decimal(g, out, has_point);
    if (!has_point) {
        out[n++] = '.';
        out[n++] = '0';
    }
    return n;
}

}  // namespace torvex
