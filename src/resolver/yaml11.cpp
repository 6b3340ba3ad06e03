// YAML 1.1 resolution of plain scalars, with the PyYAML-compatible variant
// that leaves the one-letter booleans as strings.
#include <cstdint>
#include <limits>

#include "resolver/keywords.hpp"
#include "resolver/number_text.hpp"
#include "resolver/rules.hpp"

namespace torvex::resolver {

namespace nt = number_text;
namespace {

constexpr std::uint64_t kInt64Max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

std::size_t next_non_underscore(std::string_view t, std::size_t from) noexcept {
    while (from < t.size() && t[from] == '_') ++from;
    return from;
}

// After an optional sign, a decimal digit, or `.` and a decimal digit. An
// underscore may follow a digit but never lead: `_1`, `-_1`, `_.5` and `._5`
// are text, while `1_000`, `0_7`, `0x_1F` and `.5_` keep their meaning.
bool starts_as_number(std::string_view t) noexcept {
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.remove_prefix(1);
    if (t.empty()) return false;
    if (nt::is_digit(t[0])) return true;
    return t[0] == '.' && t.size() > 1 && nt::is_digit(t[1]);
}

// Base-60 numbers (times of day, durations) as YAML 1.1 writes them:
//   integer  [-+]?[1-9][0-9_]*(:[0-5]?[0-9])+
//   float    [-+]?[0-9][0-9_]*(:[0-5]?[0-9])+\.[0-9_]*
// Underscores count only where the patterns have them. `07:30`, `00:05:00`
// and `1:007` are none of these: such text is a time or a code, not a number.
// The value folds left to right, value * 60 + part; a leading sign (taken
// off by the caller) applies to the whole value, so `-1:30` is -90.

// One part after a colon: one digit, or two digits below 60.
bool base60_part(std::string_view part, std::uint64_t& out) noexcept {
    if (part.size() == 1 && nt::is_digit(part[0])) {
        out = static_cast<std::uint64_t>(part[0] - '0');
        return true;
    }
    if (part.size() == 2 && part[0] >= '0' && part[0] <= '5' && nt::is_digit(part[1])) {
        out = static_cast<std::uint64_t>((part[0] - '0') * 10 + (part[1] - '0'));
        return true;
    }
    return false;
}

// The unsigned integer form; false as well when the magnitude exceeds 64 bits.
bool sexagesimal_int(std::string_view t, std::uint64_t& out) noexcept {
    std::size_t colon = t.find(':');
    if (colon == std::string_view::npos || t[0] < '1' || t[0] > '9') return false;
    std::uint64_t value = 0;
    if (!nt::parse_unsigned(t.substr(0, colon), 10, kInt64Max, true, value)) return false;
    do {
        t.remove_prefix(colon + 1);
        colon = t.find(':');
        std::uint64_t part = 0;
        if (!base60_part(t.substr(0, colon), part)) return false;
        if (__builtin_mul_overflow(value, 60U, &value) || __builtin_add_overflow(value, part, &value) ||
            value > kInt64Max) {
            return false;
        }
    } while (colon != std::string_view::npos);
    out = value;
    return true;
}

// The float form, sign included. Without `require_point` (under `!!float`)
// the fraction may be left out, as a decimal float may drop its point there.
bool sexagesimal_float(std::string_view t, bool require_point, double& out) noexcept {
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    std::size_t colon = t.find(':');
    if (colon == std::string_view::npos) return false;
    // The first part may exceed 64 bits: digits and underscores, read as a double.
    const std::string_view head = t.substr(0, colon);
    std::size_t digits = 0;
    char lead = 0;
    double value = 0.0;
    if (head.empty() || !nt::is_digit(head[0]) || !nt::decimal_digits(head, true, digits, lead) ||
        !nt::parse_decimal_float(head, true, false, value)) {
        return false;
    }
    for (;;) {
        t.remove_prefix(colon + 1);
        colon = t.find(':');
        const std::string_view part = t.substr(0, colon);
        const std::size_t point = colon == std::string_view::npos ? part.find('.') : std::string_view::npos;
        std::uint64_t whole = 0;
        if (!base60_part(part.substr(0, point), whole)) return false;
        if (colon != std::string_view::npos) {
            value = value * 60.0 + static_cast<double>(whole);
            continue;
        }
        if (point == std::string_view::npos) {
            if (require_point) return false;
            value = value * 60.0 + static_cast<double>(whole);
            break;
        }
        for (const char c : part.substr(point + 1)) {
            if (c != '_' && !nt::is_digit(c)) return false;
        }
        // The last part with its fraction, read whole (`59.99`), rounds once.
        double last = 0.0;
        if (!nt::parse_decimal_float(part, true, false, last)) return false;
        value = value * 60.0 + last;
        break;
    }
    out = negative ? -value : value;
    return true;
}

Resolved yaml11_number(std::string_view t) noexcept {
    std::int64_t i = 0;
    if (yaml11_int(t, i)) return make_int(i);
    if (yaml11_big_int(t)) return make_big_int();
    double d = 0.0;
    if (nt::parse_special_float(t, d) || yaml11_float(t, true, d)) return make_float(d);
    return make_str();
}

}  // namespace

bool yaml11_int(std::string_view t, std::int64_t& out) noexcept {
    if (!starts_as_number(t)) return false;
    bool negative = false;
    if (t[0] == '+' || t[0] == '-') {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    std::uint64_t magnitude = 0;
    bool ok = false;
    if (t.find(':') != std::string_view::npos) {
        ok = sexagesimal_int(t, magnitude);
    } else if (t[0] == '0') {
        const std::size_t p1 = next_non_underscore(t, 1);
        const char c = p1 < t.size() ? t[p1] : '\0';
        if (c == 'x' || c == 'X') {
            ok = nt::parse_unsigned(t.substr(p1 + 1), 16, kInt64Max, true, magnitude);
        } else if (c == 'b' || c == 'B') {
            ok = nt::parse_unsigned(t.substr(p1 + 1), 2, kInt64Max, true, magnitude);
        } else {
            ok = nt::parse_unsigned(t, 8, kInt64Max, true, magnitude);
        }
    } else {
        ok = nt::parse_unsigned(t, 10, kInt64Max, true, magnitude);
    }
    if (!ok) return false;
    out = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

bool yaml11_big_int(std::string_view t) noexcept {
    if (!starts_as_number(t)) return false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.remove_prefix(1);
    std::size_t digits = 0;
    char first = 0;
    return nt::decimal_digits(t, true, digits, first) && (digits == 1 || first != '0');
}

bool yaml11_float(std::string_view t, bool require_point_or_exponent, double& out) noexcept {
    if (!starts_as_number(t)) return false;
    if (t.find(':') != std::string_view::npos) return sexagesimal_float(t, require_point_or_exponent, out);
    return nt::parse_decimal_float(t, true, require_point_or_exponent, out);
}

Resolved yaml11_plain(std::string_view t, bool pyyaml_compat) noexcept {
    if (t.empty()) return make_null();
    bool b = false;
    switch (t[0]) {
        case '~':
            return t.size() == 1 ? make_null() : make_str();
        case '<':
            return t.size() == 2 && t[1] == '<' ? make_merge() : make_str();
        case 'n':
        case 'N':
            if (is_null_word(t)) return make_null();
            [[fallthrough]];
        case 'y':
        case 'Y':
        case 'o':
        case 'O':
        case 't':
        case 'T':
        case 'f':
        case 'F':
            return yaml11_bool(t, pyyaml_compat, b) ? make_bool(b) : make_str();
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
            return yaml11_number(t);
        default:
            return make_str();
    }
}

}  // namespace torvex::resolver
