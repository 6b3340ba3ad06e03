// Scalar resolution: what a scalar means (null, bool, int, big int, float,
// str, merge marker) under YAML 1.2 core rules, YAML 1.1 rules, or the
// PyYAML-compatible variant of 1.1. A pure function of text, style and tag.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "resolver/keywords.hpp"

namespace torvex {

enum class ResolveMode : std::uint8_t {
    Yaml12 = 0,        // YAML 1.2 core schema (default)
    Yaml11 = 1,        // YAML 1.1
    PyYamlCompat = 2,  // YAML 1.1, but y/Y/n/N stay strings
};

enum class ResolvedKind : std::uint8_t { Null, Bool, Int, BigInt, Float, Str, Merge };

// The outcome of resolving one scalar. For BigInt and Str the payload is the
// scalar text itself, which the caller already holds.
struct Resolved {
    ResolvedKind kind = ResolvedKind::Str;
    bool boolean = false;
    std::int64_t integer = 0;
    double floating = 0.0;
};

// "null", "bool", "int" (also for big ints), "float", "str", "merge".
const char* resolved_kind_name(ResolvedKind kind) noexcept;

// `plain` is true for the Plain style; other styles resolve to str unless an
// explicit tag says otherwise. `tag` is the resolved tag (shorthand such as
// "!!int" or the full "tag:yaml.org,2002:int"), or empty when the node has none.
Resolved resolve(ResolveMode mode, std::string_view text, bool plain, std::optional<std::string_view> tag) noexcept;

// Whether an untagged plain scalar is a str in every mode, judged by its
// first byte and its length alone: most scalars (keys, words) start with a
// byte no other kind can start with, or are longer than every keyword with
// their first byte, and the decoder skips resolution for them. An empty
// text is null, never this.
namespace resolve_detail {
// For each first byte, the longest plain scalar that can be something other
// than a str in some mode: null (`~`, `null`, `n`, `no`), merge (`<<`), the
// booleans of 1.2 and 1.1 (`true`, `false`, `yes`, `on`, `off`, in their
// spellings), none (0) for other bytes, any length for numbers (a sign,
// `.`, digits). The modes' readers dispatch on the same bytes.
inline constexpr std::uint8_t kAnyLength = 0xFF;
inline constexpr std::array<std::uint8_t, 256> kLongestNonStr = [] {
    std::array<std::uint8_t, 256> table{};
    table['~'] = 1;
    table['<'] = 2;
    for (const unsigned char c : std::string_view("yYoO")) table[c] = 3;
    for (const unsigned char c : std::string_view("nNtT")) table[c] = 4;
    table['f'] = table['F'] = 5;
    for (const unsigned char c : std::string_view("+-.0123456789")) table[c] = kAnyLength;
    return table;
}();
// For each first byte of a word above, the second bytes its spellings have,
// lower-cased by `| 0x20` (which leaves `<` as it is): `name`, `type` or
// `tags` are as short as `null` or `true`, but no such word.
inline constexpr std::array<std::array<unsigned char, 2>, 256> kSecondOfNonStr = [] {
    std::array<std::array<unsigned char, 2>, 256> table{};
    const auto set = [&](std::string_view firsts, unsigned char a, unsigned char b) {
        for (const unsigned char c : firsts) table[c] = {a, b};
    };
    set("<", '<', '<');
    set("nN", 'o', 'u');  // no, null
    set("yY", 'e', 'e');  // yes
    set("oO", 'n', 'f');  // on, off
    set("tT", 'r', 'r');  // true
    set("fF", 'a', 'a');  // false
    return table;
}();
}  // namespace resolve_detail

inline bool plain_is_str_at_a_glance(std::string_view text) noexcept {
    if (text.empty()) return false;
    const auto first = static_cast<unsigned char>(text[0]);
    const std::uint8_t longest = resolve_detail::kLongestNonStr[first];
    if (longest == resolve_detail::kAnyLength) return false;
    if (text.size() > longest) return true;
    if (text.size() == 1) return false;
    const unsigned char second = static_cast<unsigned char>(text[1]) | 0x20;
    const auto& seconds = resolve_detail::kSecondOfNonStr[first];
    return second != seconds[0] && second != seconds[1];
}

// A plain scalar of one to 18 decimal digits, maybe after a `-`, and without
// a leading zero (but "0" itself) is the same int in every mode, so it has no
// 1.1-versus-1.2 difference either: true with its value. The common integer,
// read without the general resolver's dispatch.
[[gnu::always_inline]] inline bool plain_short_decimal(std::string_view text, std::int64_t& out) noexcept {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    if (digits.empty() || digits.size() > 18 || (digits[0] == '0' && digits.size() > 1)) return false;
    std::int64_t value = 0;
    for (const char c : digits) {
        const auto digit = static_cast<unsigned>(static_cast<unsigned char>(c) - '0');
        if (digit > 9) return false;
        value = value * 10 + static_cast<std::int64_t>(digit);
    }
    out = negative ? -value : value;
    return true;
}

// A plain scalar of digits, a `.` and digits, maybe after a `-`, with 15
// significant digits at most and no leading zero (but "0." itself), is the
// same float in every mode, and m / 10^k of two exact doubles rounds as
// correctly as any reading of the text: true with its value. The common
// float (`91.72`), read without the general resolver.
inline bool plain_short_decimal_float(std::string_view text, double& out) noexcept {
    constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const bool negative = !text.empty() && text[0] == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    const std::size_t point = digits.find('.');
    if (point == 0 || point == std::string_view::npos || point + 1 == digits.size() || digits.size() > 16) return false;
    if (digits[0] == '0' && point > 1) return false;
    std::uint64_t mantissa = 0;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i == point) continue;
        const auto digit = static_cast<unsigned>(static_cast<unsigned char>(digits[i]) - '0');
        if (digit > 9) return false;
        mantissa = mantissa * 10 + digit;
    }
    const double value = static_cast<double>(mantissa) / kPowers[digits.size() - 1 - point];
    out = negative ? -value : value;
    return true;
}

// `true`, `false` and `null` in their three spellings, and `~`, mean the
// same in every mode (so they make no 1.1-versus-1.2 difference either):
// true with what the text is.
inline bool plain_keyword_in_every_mode(std::string_view text, Resolved& out) noexcept {
    switch (text.size()) {
        case 1:
            if (text[0] != '~') return false;
            out.kind = ResolvedKind::Null;
            return true;
        case 4:
            if (resolver::is_null_word(text)) {
                out.kind = ResolvedKind::Null;
                return true;
            }
            if (!resolver::is_true_word(text)) return false;
            out.kind = ResolvedKind::Bool;
            out.boolean = true;
            return true;
        case 5:
            if (!resolver::is_false_word(text)) return false;
            out.kind = ResolvedKind::Bool;
            out.boolean = false;
            return true;
        default:
            return false;
    }
}

// Names under the load's mode and under YAML 1.2, when they differ and the
// first is not "str"; used for the 1.1-versus-1.2 warnings.
struct VersionDifference {
    const char* as_loaded;
    const char* as_yaml12;
};
std::optional<VersionDifference> version_difference(ResolveMode mode, std::string_view text, bool plain,
                                                    std::optional<std::string_view> tag) noexcept;

// The warning text for a difference at a 0-based position:
// "YAML 1.1 syntax '{text}' resolves as {a} in 1.1 but {b} in 1.2 at line {l+1}, column {c+1}".
std::string version_warning(std::string_view text, const VersionDifference& diff, std::uint32_t line,
                            std::uint32_t column);

}  // namespace torvex
