// The scanner's cursor over one UTF-8 text: byte offset, 0-based line and
// column (columns count characters), character classes and line breaks.
// The text is valid UTF-8 (validated by the caller), so nothing here fails.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/span.hpp"
#include "core/wide_bytes.hpp"
#include "core/utf8.hpp"

namespace torvex::scan {

inline constexpr char32_t kEnd = 0x110000;  // "no character": past the end of the text

constexpr bool is_break(unsigned c) noexcept { return c == '\n' || c == '\r'; }
constexpr bool is_blank(unsigned c) noexcept { return c == ' ' || c == '\t'; }
constexpr bool is_flow_indicator(unsigned c) noexcept {
    return c == ',' || c == '[' || c == ']' || c == '{' || c == '}';
}
constexpr bool is_bracket(unsigned c) noexcept { return c == '[' || c == ']' || c == '{' || c == '}'; }
constexpr bool is_hex(unsigned c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Byte tables. kPlainStopInner*: bytes that can end or interrupt a plain
// scalar's run across a line (breaks, `#`, `:`; in flow context also the flow
// indicators). Non-ASCII characters never do.
struct ByteTable {
    std::array<bool, 256> stop{};
    constexpr bool operator[](unsigned char b) const noexcept { return stop[b]; }
};

constexpr ByteTable make_plain_table(bool flow) {
    ByteTable t;
    t.stop['\n'] = t.stop['\r'] = t.stop['#'] = t.stop[':'] = true;
    if (flow) t.stop[','] = t.stop['['] = t.stop[']'] = t.stop['{'] = t.stop['}'] = true;
    return t;
}

inline constexpr ByteTable kPlainStopInnerBlock = make_plain_table(false);
inline constexpr ByteTable kPlainStopInnerFlow = make_plain_table(true);

// Anchor and alias names end at NUL, blanks, breaks, `,` and brackets.
constexpr ByteTable make_name_table() {
    ByteTable t;
    t.stop[0] = t.stop['\t'] = t.stop['\n'] = t.stop['\r'] = t.stop[' '] = true;
    t.stop[','] = t.stop['['] = t.stop[']'] = t.stop['{'] = t.stop['}'] = true;
    return t;
}
inline constexpr ByteTable kNameStop = make_name_table();

// Tags end at blanks, breaks, `,`, `]` and `}`.
constexpr ByteTable make_tag_table() {
    ByteTable t;
    t.stop['\t'] = t.stop['\n'] = t.stop['\r'] = t.stop[' '] = true;
    t.stop[','] = t.stop[']'] = t.stop['}'] = true;
    return t;
}
inline constexpr ByteTable kTagStop = make_tag_table();

// `---` or `...` at `pos`, followed by a blank, a break or the end.
inline bool document_marker_at(const unsigned char* text, std::size_t pos, std::size_t length) noexcept {
    if (length - pos < 3) return false;
    const unsigned char c = text[pos];
    if ((c != '-' && c != '.') || text[pos + 1] != c || text[pos + 2] != c) return false;
    return pos + 3 >= length || is_blank(text[pos + 3]) || is_break(text[pos + 3]);
}

// The bytes of the line break at `pos` (CR LF is one break).
inline std::size_t break_length(const unsigned char* text, std::size_t pos, std::size_t length) noexcept {
    return text[pos] == '\r' && pos + 1 < length && text[pos + 1] == '\n' ? 2 : 1;
}

// The spaces at `pos`, counted up to `limit`: a line's indentation. The usual
// indentation (16 or fewer) takes one compare where 16 bytes remain.
inline std::size_t leading_spaces(const unsigned char* text, std::size_t pos, std::size_t length,
                                  std::size_t limit) noexcept {
#if TORVEX_SSE2
    if (limit <= 16 && length - pos >= 16) {
        const unsigned spaces = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(wide::load16(text + pos), _mm_set1_epi8(' '))));
        return std::min<std::size_t>(static_cast<std::size_t>(std::countr_one(spaces)), limit);
    }
#endif
    return std::min(wide::skip_spaces(text, pos, length) - pos, limit);
}

struct Reader {
    const unsigned char* text = nullptr;
    std::size_t length = 0;
    std::size_t pos = 0;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    std::uint32_t file_id = 0;
    bool bom = false;

    Reader() = default;
    Reader(std::string_view input, std::uint32_t file) noexcept
        : text(reinterpret_cast<const unsigned char*>(input.data())), length(input.size()), file_id(file) {
        if (length >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) {
            pos = 3;
            bom = true;
        }
    }

    bool at_end() const noexcept { return pos >= length; }
    std::size_t remaining() const noexcept { return length - pos; }
    // The byte `ahead` bytes from the cursor, 0 past the end (callers that care
    // about a NUL in the text test at_end() or the offset first).
    unsigned char byte(std::size_t ahead = 0) const noexcept {
        return pos + ahead < length ? text[pos + ahead] : 0;
    }
    bool has(std::size_t ahead) const noexcept { return pos + ahead < length; }

    char32_t char_at(std::size_t offset) const noexcept {
        return utf8::decode_at(std::string_view(reinterpret_cast<const char*>(text), length), offset);
    }
    // Blank, break or end: what must follow `-`, `?`, `:`, `---` and `...` to make them indicators.
    bool blank_break_or_end_at(std::size_t ahead) const noexcept {
        return !has(ahead) || is_blank(text[pos + ahead]) || is_break(text[pos + ahead]);
    }
    bool next_is_blank_break_or_end() const noexcept { return blank_break_or_end_at(1); }

    // Peeks past spaces and tabs; the first other character, kEnd at the end.
    char32_t first_non_blank() const noexcept {
        std::size_t p = pos;
        while (p < length && is_blank(text[p])) ++p;
        return char_at(p);
    }

    void advance() noexcept {
        pos += utf8::sequence_length(text[pos]);
        ++column;
    }
    // Advances over n ASCII characters.
    void advance_ascii(std::size_t n) noexcept {
        pos += n;
        column += static_cast<std::uint32_t>(n);
    }
    // At LF, or CR (with a following LF taken as part of the same break).
    void consume_break() noexcept {
        if (text[pos] == '\r' && pos + 1 < length && text[pos + 1] == '\n') ++pos;
        ++pos;
        ++line;
        column = 0;
    }
    bool at_break() const noexcept { return pos < length && is_break(text[pos]); }
    bool at_break_or_end() const noexcept { return pos >= length || is_break(text[pos]); }

    void skip_blanks() noexcept {
        while (pos < length && is_blank(text[pos])) advance_ascii(1);
    }
    void skip_spaces() noexcept { advance_ascii(wide::skip_spaces(text, pos, length) - pos); }
    // `---` or `...` at column 0, followed by a blank, a break or the end.
    bool document_marker() const noexcept { return column == 0 && document_marker_at(text, pos, length); }

    Span mark() const noexcept { return Span{file_id, line, column, pos}; }
};

}  // namespace torvex::scan
