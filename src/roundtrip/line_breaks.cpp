#include "roundtrip/line_breaks.hpp"

#include <cstring>

namespace torvex::rt {

bool has_lone_cr(std::string_view text) noexcept {
    for (std::size_t at = text.find('\r'); at != std::string_view::npos; at = text.find('\r', at + 1)) {
        if (at + 1 == text.size() || text[at + 1] != '\n') return true;
    }
    return false;
}

bool uses_crlf(std::string_view source) noexcept {
    const std::size_t feed = source.find('\n');
    return feed != std::string_view::npos && feed > 0 && source[feed - 1] == '\r';
}

std::string with_crlf(std::string text) {
    std::size_t lone = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) ++lone;
    }
    if (lone == 0) return text;
    std::string out;
    out.reserve(text.size() + lone);
    std::size_t from = 0;
    while (from < text.size()) {
        const void* hit = std::memchr(text.data() + from, '\n', text.size() - from);
        const std::size_t feed = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data())
                                     : text.size();
        out.append(text, from, feed - from);
        if (feed == text.size()) break;
        if (feed == 0 || text[feed - 1] != '\r') out.push_back('\r');
        out.push_back('\n');
        from = feed + 1;
    }
    return out;
}

}  // namespace torvex::rt
