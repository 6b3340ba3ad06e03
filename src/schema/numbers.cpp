#include "schema/numbers.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace torvex::schema {

std::optional<std::string> canonical_integer(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::string digits;
    digits.reserve(text.size() + 1);
    for (char c : text) {
        if (c == '_') continue;
        if (c < '0' || c > '9') return std::nullopt;
        if (digits.empty() && c == '0') continue;  // leading zero
        digits.push_back(c);
    }
    if (text.empty()) return std::nullopt;
    if (digits.empty()) return std::string("0");
    if (negative) digits.insert(digits.begin(), '-');
    return digits;
}

std::optional<double> big_int_to_double(std::string_view text) {
    const auto digits = canonical_integer(text);
    if (!digits) return std::nullopt;
    const double d = std::strtod(digits->c_str(), nullptr);
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

std::optional<std::string> integral_double_digits(double d) {
    if (!std::isfinite(d) || d != std::floor(d)) return std::nullopt;
    if (d == 0.0) return std::string("0");
    char buffer[400];
    const int n = std::snprintf(buffer, sizeof buffer, "%.0f", d);  // exact for integral doubles
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(n));
}

bool int_equals_double(std::int64_t i, double d) noexcept {
    constexpr double kTop = 9223372036854775808.0;  // 2^63
    if (!(d >= -kTop && d < kTop) || d != std::floor(d)) return false;
    return static_cast<std::int64_t>(d) == i;
}

std::string number_text(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    // The shortest digits that read back, as d.ddde±X, laid out without exponent.
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::scientific);
    if (ec != std::errc()) return "nan";
    const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
    const std::size_t e = text.find('e');
    std::string_view mantissa = text.substr(0, e);
    const int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
    std::string out;
    if (mantissa.front() == '-') {
        out.push_back('-');
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (char c : mantissa) {
        if (c != '.') digits.push_back(c);
    }
    const int point = exponent + 1;  // digits before the decimal point
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        out += digits;
        out.append(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(point));
    }
    return out;
}

}  // namespace torvex::schema
