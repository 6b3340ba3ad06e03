// Where the lines of one source text begin, and which of them are blank: the
// composer's lookups from byte offsets to (line, column) and the blank-line
// counts that become `blank_before`.
//
// A line break is `\n`, `\r\n` or a lone `\r`, as the scanner counts them, so
// line numbers here agree with token positions. A text that begins with a
// byte-order mark has its first line start after the mark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/utf8_count.hpp"

namespace torvex::rt {

class LineTable {
public:
    // Without `count_blanks` the blank-line counts are not made (and read as none):
    // only the comment attacher needs them.
    explicit LineTable(std::string_view text, bool count_blanks = true);

    std::size_t line_count() const noexcept { return starts_.size(); }
    std::uint64_t line_start(std::uint32_t line) const noexcept { return starts_[line]; }
    // Where the line after `line` starts; the end of the text after the last line.
    std::uint64_t next_line_start(std::uint32_t line) const noexcept {
        return line + 1u < starts_.size() ? starts_[line + 1] : text_.size();
    }
    std::string_view text() const noexcept { return text_; }

    // The last line whose start is not after `offset`; the search begins at
    // `from`, a line known not to lie after the answer.
    std::uint32_t line_of(std::uint64_t offset, std::uint32_t from = 0) const noexcept;

    // Characters (bytes that are not UTF-8 continuation bytes) from the start
    // of `line` to `offset`.
    std::uint32_t column_of(std::uint64_t offset, std::uint32_t line) const noexcept;

    // Blank lines (nothing but spaces and tabs) strictly between two lines.
    std::uint32_t blank_between(std::uint32_t after, std::uint32_t before) const noexcept {
        if (before <= after + 1) return 0;
        const std::size_t hi = before < blank_upto_.size() ? before : blank_upto_.size() - 1;
        const std::size_t lo = static_cast<std::size_t>(after) + 1;
        return hi > lo ? blank_upto_[hi] - blank_upto_[lo] : 0;
    }

    bool is_blank(std::uint32_t line) const noexcept {
        return line + 1u < blank_upto_.size() && blank_upto_[line + 1] != blank_upto_[line];
    }

private:
    // The line starts alone, from `start` on.
    void find_starts(const char* data, std::size_t size, std::size_t start, bool has_cr);

    std::string_view text_;
    std::vector<std::uint64_t> starts_;
    // blank_upto_[i]: blank lines among lines 0 .. i-1 (one entry more than lines).
    std::vector<std::uint32_t> blank_upto_;
};

// Characters in a UTF-8 byte range (bytes that are not continuation bytes).
inline std::uint32_t count_chars(std::string_view bytes) noexcept {
    return utf8::count_chars(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace torvex::rt
