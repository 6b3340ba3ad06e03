// Coercion of scalars by explicit core tags.
#include <cstring>

#include "resolver/keywords.hpp"
#include "resolver/number_text.hpp"
#include "resolver/rules.hpp"

namespace torvex::resolver {

namespace nt = number_text;

ScalarTag classify_scalar_tag(std::string_view tag) noexcept {
    constexpr std::string_view kLong = "tag:yaml.org,2002:";
    std::string_view name;
    if (tag.size() > 2 && tag[0] == '!' && tag[1] == '!') {
        name = tag.substr(2);
    } else if (tag.size() > kLong.size() && std::memcmp(tag.data(), kLong.data(), kLong.size()) == 0) {
        name = tag.substr(kLong.size());
    } else {
        return ScalarTag::Other;
    }
    switch (name.size()) {
        case 3:
            if (name == "int") return ScalarTag::Int;
            break;
        case 4:
            if (name == "null") return ScalarTag::Null;
            if (name == "bool") return ScalarTag::Bool;
            break;
        case 5:
            if (name == "float") return ScalarTag::Float;
            if (name == "merge") return ScalarTag::Merge;
            break;
        default:
            break;
    }
    return ScalarTag::Other;
}

namespace {

Resolved tagged_bool(ResolveMode mode, std::string_view t) noexcept {
    if (mode == ResolveMode::Yaml12) return make_bool(is_true_word(t));
    bool b = false;
    return make_bool(yaml11_bool(t, mode == ResolveMode::PyYamlCompat, b) && b);
}

// An integer too large for 64 bits keeps its text as a big int rather than
// collapsing to 0 like text that is no integer at all.
Resolved tagged_int(ResolveMode mode, std::string_view t) noexcept {
    std::int64_t i = 0;
    if (mode == ResolveMode::Yaml12) {
        if (yaml12_int(t, i)) return make_int(i);
        if (yaml12_big_int(t)) return make_big_int();
    } else {
        if (yaml11_int(t, i)) return make_int(i);
        if (yaml11_big_int(t)) return make_big_int();
    }
    return make_int(0);
}

Resolved tagged_float(ResolveMode mode, std::string_view t) noexcept {
    double d = 0.0;
    if (nt::parse_special_float(t, d)) return make_float(d);
    const bool ok = mode == ResolveMode::Yaml12 ? nt::parse_decimal_float(t, false, false, d)
                                                : yaml11_float(t, false, d);
    return make_float(ok ? d : 0.0);
}

}  // namespace

Resolved resolve_tagged(ResolveMode mode, std::string_view text, ScalarTag tag) noexcept {
    switch (tag) {
        case ScalarTag::Null:
            return make_null();
        case ScalarTag::Bool:
            return tagged_bool(mode, text);
        case ScalarTag::Int:
            return tagged_int(mode, text);
        case ScalarTag::Float:
            return tagged_float(mode, text);
        case ScalarTag::Merge:
            return mode == ResolveMode::Yaml12 ? make_str() : make_merge();
        case ScalarTag::Other:
            break;
    }
    return make_str();
}

}  // namespace torvex::resolver
