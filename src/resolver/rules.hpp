// The resolution rules of each mode, shared by the untagged and the tagged
// paths. Internal to the resolver.
#pragma once

#include <cstdint>
#include <string_view>

#include "resolver/resolve.hpp"

namespace torvex::resolver {

constexpr Resolved make_null() noexcept { return Resolved{ResolvedKind::Null}; }
constexpr Resolved make_str() noexcept { return Resolved{ResolvedKind::Str}; }
constexpr Resolved make_merge() noexcept { return Resolved{ResolvedKind::Merge}; }
constexpr Resolved make_big_int() noexcept { return Resolved{ResolvedKind::BigInt}; }
constexpr Resolved make_bool(bool b) noexcept { return Resolved{ResolvedKind::Bool, b}; }
constexpr Resolved make_int(std::int64_t i) noexcept { return Resolved{ResolvedKind::Int, false, i}; }
constexpr Resolved make_float(double d) noexcept { return Resolved{ResolvedKind::Float, false, 0, d}; }

// YAML 1.2 core schema.
Resolved yaml12_plain(std::string_view text) noexcept;
// An integer that fits 64 bits: sign, then `0x` hex, `0o` octal, `0` or
// decimal digits not starting with `0`.
bool yaml12_int(std::string_view text, std::int64_t& out) noexcept;
// Sign and decimal digits, `0` or not starting with `0` (whatever the size).
bool yaml12_big_int(std::string_view text) noexcept;

// YAML 1.1 (`pyyaml_compat`: without the one-letter booleans).
// A 1.1 number starts, after an optional sign, with a decimal digit or with `.`
// and a decimal digit; past that first digit underscores are ignored. The
// three readers below reject any other start, so `_1` or `._5` are text
// untagged and no number under `!!int` or `!!float` either.
Resolved yaml11_plain(std::string_view text, bool pyyaml_compat) noexcept;
// Sign, then with underscores ignored: `0x` hex, `0b` binary, `0`-led octal,
// sexagesimal `a:b:c` or decimal digits; the magnitude fits 64 bits.
bool yaml11_int(std::string_view text, std::int64_t& out) noexcept;
// Sign and decimal digits (underscores ignored), one digit or not starting with `0`.
bool yaml11_big_int(std::string_view text) noexcept;
// Decimal or sexagesimal float, underscores ignored. With
// `require_point_or_exponent` (plain scalars) a float needs `.` or an
// exponent, and a sexagesimal one needs `.`.
bool yaml11_float(std::string_view text, bool require_point_or_exponent, double& out) noexcept;

// The core scalar tags that change a scalar's meaning; `!!str` and every
// other tag are `Other`.
enum class ScalarTag : std::uint8_t { Null, Bool, Int, Float, Merge, Other };
ScalarTag classify_scalar_tag(std::string_view tag) noexcept;

// Coercion of a scalar by an explicit tag, whatever its style.
Resolved resolve_tagged(ResolveMode mode, std::string_view text, ScalarTag tag) noexcept;

}  // namespace torvex::resolver
