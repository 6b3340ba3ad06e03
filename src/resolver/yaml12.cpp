// YAML 1.2 core schema resolution of plain scalars.
#include <cstdint>
#include <limits>

#include "resolver/keywords.hpp"
#include "resolver/number_text.hpp"
#include "resolver/rules.hpp"

namespace torvex::resolver {

namespace nt = number_text;
constexpr std::uint64_t kInt64Max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

namespace {

// Up to 18 decimal digits cannot overflow 64 bits: most integers are read by
// this loop without the general reader's per-digit base and overflow checks.
constexpr std::size_t kShortDecimal = 18;

bool short_decimal(std::string_view t, std::uint64_t& out) noexcept {
    std::uint64_t value = 0;
    for (const char c : t) {
        const auto digit = static_cast<unsigned>(static_cast<unsigned char>(c) - '0');
        if (digit > 9) return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

}  // namespace

bool yaml12_int(std::string_view t, std::int64_t& out) noexcept {
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    if (t.empty()) return false;
    unsigned base = 10;
    if (t[0] == '0') {
        if (t.size() == 1) {
            out = 0;
            return true;
        }
        if (t[1] == 'x' || t[1] == 'X') {
            base = 16;
        } else if (t[1] == 'o' || t[1] == 'O') {
            base = 8;
        } else {
            return false;  // a leading zero on a decimal number
        }
        t.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    if (base == 10 && t.size() <= kShortDecimal) {
        if (!short_decimal(t, magnitude)) return false;
    } else if (!nt::parse_unsigned(t, base, kInt64Max, false, magnitude)) {
        return false;
    }
    out = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

bool yaml12_big_int(std::string_view t) noexcept {
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.remove_prefix(1);
    std::size_t digits = 0;
    char first = 0;
    return nt::decimal_digits(t, false, digits, first) && (digits == 1 || first != '0');
}

namespace {

Resolved yaml12_number(std::string_view t) noexcept {
    std::int64_t i = 0;
    if (yaml12_int(t, i)) return make_int(i);
    if (yaml12_big_int(t)) return make_big_int();
    double d = 0.0;
    if (nt::parse_special_float(t, d) || nt::parse_decimal_float(t, false, true, d)) return make_float(d);
    return make_str();
}

}  // namespace

Resolved yaml12_plain(std::string_view t) noexcept {
    if (t.empty()) return make_null();
    switch (t[0]) {
        case '~':
            return t.size() == 1 ? make_null() : make_str();
        case '<':
            return t.size() == 2 && t[1] == '<' ? make_merge() : make_str();
        case 'n':
        case 'N':
            return is_null_word(t) ? make_null() : make_str();
        case 't':
        case 'T':
            return is_true_word(t) ? make_bool(true) : make_str();
        case 'f':
        case 'F':
            return is_false_word(t) ? make_bool(false) : make_str();
        case '+':
        case '-':
        case '.':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            return yaml12_number(t);
        default:
            return make_str();
    }
}

}  // namespace torvex::resolver
