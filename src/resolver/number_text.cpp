#include "resolver/number_text.hpp"

#include <charconv>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <system_error>

namespace torvex::number_text {

bool parse_unsigned(std::string_view text, unsigned base, std::uint64_t limit, bool skip_underscores,
                    std::uint64_t& out) noexcept {
    std::uint64_t value = 0;
    bool any = false;
    for (const char c : text) {
        if (skip_underscores && c == '_') continue;
        const int d = digit_value(c, base);
        if (d < 0) return false;
        // The value never decreases as digits are appended, so checking the
        // limit once at the end is enough; only wrap-around needs checking here.
        if (__builtin_mul_overflow(value, base, &value) ||
            __builtin_add_overflow(value, static_cast<std::uint64_t>(d), &value)) {
            return false;
        }
        any = true;
    }
    if (!any || value > limit) return false;
    out = value;
    return true;
}

bool decimal_digits(std::string_view text, bool skip_underscores, std::size_t& digits, char& first) noexcept {
    std::size_t n = 0;
    char f = 0;
    for (const char c : text) {
        if (skip_underscores && c == '_') continue;
        if (!is_digit(c)) return false;
        if (n == 0) f = c;
        ++n;
    }
    if (n == 0) return false;
    digits = n;
    first = f;
    return true;
}

namespace {

bool is_word(std::string_view w, const char (&lower)[4], const char (&title)[4], const char (&upper)[4]) noexcept {
    return std::memcmp(w.data(), lower, 3) == 0 || std::memcmp(w.data(), title, 3) == 0 ||
           std::memcmp(w.data(), upper, 3) == 0;
}

// Converts text already known to be a well-formed decimal number. A range
// error is settled by `lead_exponent`, the power of ten of the leading
// non-zero digit (including the written exponent).
bool convert(const char* first, const char* last, bool negative, std::int64_t lead_exponent, double& out) noexcept {
    double value = 0.0;
    const auto r = std::from_chars(first, last, value, std::chars_format::general);
    if (r.ptr != last) return false;
    if (r.ec == std::errc::result_out_of_range) {
        value = lead_exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        if (negative) value = -value;
    } else if (r.ec != std::errc()) {
        return false;
    }
    out = value;
    return true;
}

}  // namespace

bool parse_special_float(std::string_view text, double& out) noexcept {
    bool negative = false;
    bool sign = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        sign = true;
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.size() != 4 || text[0] != '.') return false;
    const std::string_view word = text.substr(1);
    if (is_word(word, "inf", "Inf", "INF")) {
        out = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        return true;
    }
    if (!sign && is_word(word, "nan", "NaN", "NAN")) {
        out = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    return false;
}

bool parse_decimal_float(std::string_view text, bool skip_underscores, bool require_point_or_exponent,
                         double& out) noexcept {
    const char* p = text.data();
    const char* const end = p + text.size();
    bool underscores = false;
    const auto skip = [&] {
        if (skip_underscores) {
            while (p < end && *p == '_') {
                ++p;
                underscores = true;
            }
        }
    };

    skip();
    bool negative = false;
    bool plus = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        plus = *p == '+';
        ++p;
    }

    // Significant-digit bookkeeping, for settling range errors: the count of
    // integer digits from the first non-zero one, or else the position of the
    // first non-zero fraction digit.
    std::int64_t digits = 0;
    std::int64_t significant_integer_digits = 0;
    std::int64_t leading_fraction_zeros = 0;
    bool nonzero = false;
    for (;; ++p) {
        skip();
        if (p == end || !is_digit(*p)) break;
        ++digits;
        if (*p != '0') nonzero = true;
        if (nonzero) ++significant_integer_digits;
    }
    bool point = false;
    if (p < end && *p == '.') {
        point = true;
        ++p;
        for (;; ++p) {
            skip();
            if (p == end || !is_digit(*p)) break;
            ++digits;
            if (*p != '0') nonzero = true;
            if (!nonzero) ++leading_fraction_zeros;
        }
    }
    if (digits == 0) return false;

    bool exponent = false;
    std::int64_t exponent_value = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        exponent = true;
        ++p;
        skip();
        bool exponent_negative = false;
        if (p < end && (*p == '+' || *p == '-')) {
            exponent_negative = *p == '-';
            ++p;
        }
        bool any = false;
        for (;; ++p) {
            skip();
            if (p == end || !is_digit(*p)) break;
            any = true;
            // Saturate far beyond any exponent that could matter.
            if (exponent_value < 1'000'000'000'000LL) exponent_value = exponent_value * 10 + (*p - '0');
        }
        if (!any) return false;
        if (exponent_negative) exponent_value = -exponent_value;
    }
    if (p != end) return false;
    if (require_point_or_exponent && !point && !exponent) return false;

    const std::int64_t lead = significant_integer_digits > 0 ? significant_integer_digits - 1 + exponent_value
                                                            : exponent_value - leading_fraction_zeros - 1;

    if (!underscores) {
        // std::from_chars takes no leading '+'; everything else matches.
        return convert(text.data() + (plus ? 1 : 0), end, negative, lead, out);
    }

    // Underscores are dropped (and '+' signs, which never change the value).
    const auto copy = [&](char* dst) {
        char* d = dst;
        for (const char c : text) {
            if (c != '_' && c != '+') *d++ = c;
        }
        return d;
    };
    char local[256];
    if (text.size() <= sizeof local) {
        char* const last = copy(local);
        return convert(local, last, negative, lead, out);
    }
    try {
        std::string buffer(text.size(), '\0');
        char* const last = copy(buffer.data());
        return convert(buffer.data(), last, negative, lead, out);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace torvex::number_text
