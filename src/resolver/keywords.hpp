// The fixed words of scalar resolution. Each check compares the length first
// and then the bytes of the few spellings allowed; nothing is lower-cased.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace torvex::resolver {

// `text` is exactly one of the three spellings (all of the same length).
template <std::size_t N>
inline bool is_one_of(std::string_view text, const char (&a)[N], const char (&b)[N], const char (&c)[N]) noexcept {
    return text.size() == N - 1 && (std::memcmp(text.data(), a, N - 1) == 0 ||
                                    std::memcmp(text.data(), b, N - 1) == 0 ||
                                    std::memcmp(text.data(), c, N - 1) == 0);
}

inline bool is_null_word(std::string_view t) noexcept { return is_one_of(t, "null", "Null", "NULL"); }
inline bool is_true_word(std::string_view t) noexcept { return is_one_of(t, "true", "True", "TRUE"); }
inline bool is_false_word(std::string_view t) noexcept { return is_one_of(t, "false", "False", "FALSE"); }

// The booleans of YAML 1.1. `y`, `Y`, `n` and `N` count unless `pyyaml_compat`.
inline bool yaml11_bool(std::string_view t, bool pyyaml_compat, bool& value) noexcept {
    switch (t.size()) {
        case 1:
            if (pyyaml_compat) return false;
            if (t[0] == 'y' || t[0] == 'Y') return value = true, true;
            if (t[0] == 'n' || t[0] == 'N') return value = false, true;
            return false;
        case 2:
            if (is_one_of(t, "on", "On", "ON")) return value = true, true;
            if (is_one_of(t, "no", "No", "NO")) return value = false, true;
            return false;
        case 3:
            if (is_one_of(t, "yes", "Yes", "YES")) return value = true, true;
            if (is_one_of(t, "off", "Off", "OFF")) return value = false, true;
            return false;
        case 4:
            if (is_true_word(t)) return value = true, true;
            return false;
        case 5:
            if (is_false_word(t)) return value = false, true;
            return false;
        default:
            return false;
    }
}

}  // namespace torvex::resolver
