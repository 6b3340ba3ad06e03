// Scalar resolution: what a scalar means (null, bool, int, big int, float,
// str, merge marker) under YAML 1.2 core rules, YAML 1.1 rules, or the
// PyYAML-compatible variant of 1.1. A pure function of text, style and tag.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
// first byte alone: most scalars (keys, words) start with a byte no other
// kind can start with, and the decoder skips resolution for them. An empty
// text is null, never this.
namespace resolve_detail {
// The first bytes with which a plain scalar can be something other than a
// str in some mode: null (`~`, `n`, `N`), merge (`<`), the booleans of 1.2
// and 1.1 (`t`, `f`, `y`, `n`, `o` in either case) and numbers (sign, `.`,
// digits). The modes' readers dispatch on the same bytes.
inline constexpr std::array<bool, 256> kMayResolve = [] {
    std::array<bool, 256> table{};
    for (const unsigned char c : std::string_view("~<nNtTfFyYoO+-.0123456789")) table[c] = true;
    return table;
}();
}  // namespace resolve_detail

inline bool plain_is_str_by_first_byte(std::string_view text) noexcept {
    return !text.empty() && !resolve_detail::kMayResolve[static_cast<unsigned char>(text[0])];
}

// A plain scalar of one to 18 decimal digits, maybe after a `-`, and without
// a leading zero (but "0" itself) is the same int in every mode, so it has no
// 1.1-versus-1.2 difference either: true with its value. The common integer,
// read without the general resolver's dispatch.
inline bool plain_short_decimal(std::string_view text, std::int64_t& out) noexcept {
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
