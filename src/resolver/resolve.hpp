// Scalar resolution: what a scalar means (null, bool, int, big int, float,
// str, merge marker) under YAML 1.2 core rules, YAML 1.1 rules, or the
// PyYAML-compatible variant of 1.1. A pure function of text, style and tag.
#pragma once

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
