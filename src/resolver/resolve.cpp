// The resolver's entry points: mode and tag dispatch, kind names and the
// YAML 1.1 versus 1.2 difference.
#include "resolver/resolve.hpp"

#include <charconv>
#include <cstring>

#include "resolver/rules.hpp"

namespace torvex {

const char* resolved_kind_name(ResolvedKind kind) noexcept {
    switch (kind) {
        case ResolvedKind::Null:
            return "null";
        case ResolvedKind::Bool:
            return "bool";
        case ResolvedKind::Int:
        case ResolvedKind::BigInt:
            return "int";
        case ResolvedKind::Float:
            return "float";
        case ResolvedKind::Str:
            return "str";
        case ResolvedKind::Merge:
            return "merge";
    }
    return "str";
}

Resolved resolve(ResolveMode mode, std::string_view text, bool plain, std::optional<std::string_view> tag) noexcept {
    if (tag && !tag->empty()) return resolver::resolve_tagged(mode, text, resolver::classify_scalar_tag(*tag));
    if (!plain) return resolver::make_str();
    switch (mode) {
        case ResolveMode::Yaml11:
            return resolver::yaml11_plain(text, false);
        case ResolveMode::PyYamlCompat:
            return resolver::yaml11_plain(text, true);
        case ResolveMode::Yaml12:
            break;
    }
    return resolver::yaml12_plain(text);
}

std::optional<VersionDifference> version_difference(ResolveMode mode, std::string_view text, bool plain,
                                                    std::optional<std::string_view> tag) noexcept {
    const char* loaded = resolved_kind_name(resolve(mode, text, plain, tag).kind);
    if (std::strcmp(loaded, "str") == 0) return std::nullopt;
    const char* yaml12 = resolved_kind_name(resolve(ResolveMode::Yaml12, text, plain, tag).kind);
    if (std::strcmp(loaded, yaml12) == 0) return std::nullopt;
    return VersionDifference{loaded, yaml12};
}

std::string version_warning(std::string_view text, const VersionDifference& diff, std::uint32_t line,
                            std::uint32_t column) {
    const auto append_number = [](std::string& out, std::uint64_t n) {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, n);
        out.append(digits, r.ptr);
    };
    std::string out;
    out.reserve(text.size() + 96);
    out += "YAML 1.1 syntax '";
    out += text;
    out += "' resolves as ";
    out += diff.as_loaded;
    out += " in 1.1 but ";
    out += diff.as_yaml12;
    out += " in 1.2 at line ";
    append_number(out, std::uint64_t{line} + 1);
    out += ", column ";
    append_number(out, std::uint64_t{column} + 1);
    return out;
}

}  // namespace torvex
