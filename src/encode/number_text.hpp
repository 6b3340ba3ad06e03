// Integer texts shared by the emitters.
#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>

#include "encode/out_buffer.hpp"

namespace torvex {

inline void append_int(OutBuffer& out, std::int64_t v) {
    char* p = out.reserve(20);
    out.advance(static_cast<std::size_t>(std::to_chars(p, p + 20, v).ptr - p));
}

// A big integer's digits: a leading "+" and YAML 1.1 underscores are dropped,
// so the text reads back as the same integer under every rule set and is
// valid JSON.
inline void append_big_int(OutBuffer& out, std::string_view text) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.find('_') == std::string_view::npos) {
        out.append(text);
        return;
    }
    for (char c : text)
        if (c != '_') out.put(c);
}

}  // namespace torvex
