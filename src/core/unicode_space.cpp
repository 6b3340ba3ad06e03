#include "core/unicode_space.hpp"

#include "core/utf8.hpp"

namespace torvex {

std::size_t unicode_space_length_at(std::string_view text, std::size_t pos) noexcept {
    if (pos >= text.size()) return 0;
    const auto lead = static_cast<unsigned char>(text[pos]);
    const std::size_t len = utf8::sequence_length(lead);
    if (pos + len > text.size()) return 0;
    return is_unicode_space(utf8::decode_at(text, pos)) ? len : 0;
}

std::size_t unicode_space_length_before(std::string_view text, std::size_t end) noexcept {
    if (end == 0 || end > text.size()) return 0;
    // Step back over continuation bytes to the lead byte (at most 3 of them).
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    const std::size_t len = unicode_space_length_at(text, start);
    return start + len == end ? len : 0;
}

std::string_view trim_start(std::string_view text) noexcept {
    std::size_t pos = 0;
    while (std::size_t len = unicode_space_length_at(text, pos)) pos += len;
    return text.substr(pos);
}

std::string_view trim_end(std::string_view text) noexcept {
    std::size_t end = text.size();
    while (std::size_t len = unicode_space_length_before(text, end)) end -= len;
    return text.substr(0, end);
}

std::string_view next_word(std::string_view& rest) noexcept {
    rest = trim_start(rest);
    std::size_t end = 0;
    while (end < rest.size() && unicode_space_length_at(rest, end) == 0) {
        // Whole characters, so a multi-byte space is never split.
        end += utf8::sequence_length(static_cast<unsigned char>(rest[end]));
    }
    if (end > rest.size()) end = rest.size();
    const std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end);
    return word;
}

}  // namespace torvex
