#include "roundtrip/line_table.hpp"

#include <algorithm>
#include <cstring>

namespace torvex::rt {

LineTable::LineTable(std::string_view text, bool count_blanks) : text_(text) {
    const std::size_t size = text.size();
    const bool bom = size >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
                     static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF;
    const char* data = text.data();
    const bool has_cr = std::memchr(data, '\r', size) != nullptr;
    starts_.reserve(size / 32 + 2);
    if (!count_blanks) {
        blank_upto_.push_back(0);
        find_starts(data, size, bom ? 3 : 0, has_cr);
        return;
    }
    blank_upto_.reserve(size / 32 + 3);
    blank_upto_.push_back(0);

    std::size_t start = bom ? 3 : 0;
    std::uint32_t blanks = 0;
    for (;;) {
        starts_.push_back(start);
        // A line is blank when only spaces and tabs stand before its break.
        std::size_t p = start;
        while (p < size && (data[p] == ' ' || data[p] == '\t')) ++p;
        const bool blank = p >= size || data[p] == '\n' || data[p] == '\r';
        blanks += blank;
        blank_upto_.push_back(blanks);
        // The break that ends this line.
        std::size_t brk;
        if (!has_cr) {
            const void* nl = p < size ? std::memchr(data + p, '\n', size - p) : nullptr;
            if (nl == nullptr) break;
            brk = static_cast<std::size_t>(static_cast<const char*>(nl) - data);
            start = brk + 1;
        } else {
            brk = p;
            while (brk < size && data[brk] != '\n' && data[brk] != '\r') ++brk;
            if (brk >= size) break;
            start = brk + 1;
            if (data[brk] == '\r' && start < size && data[start] == '\n') ++start;
        }
    }
}

void LineTable::find_starts(const char* data, std::size_t size, std::size_t start, bool has_cr) {
    for (;;) {
        starts_.push_back(start);
        if (!has_cr) {
            const void* nl = start < size ? std::memchr(data + start, '\n', size - start) : nullptr;
            if (nl == nullptr) return;
            start = static_cast<std::size_t>(static_cast<const char*>(nl) - data) + 1;
            continue;
        }
        std::size_t brk = start;
        while (brk < size && data[brk] != '\n' && data[brk] != '\r') ++brk;
        if (brk >= size) return;
        start = brk + 1;
        if (data[brk] == '\r' && start < size && data[start] == '\n') ++start;
    }
}

std::uint32_t LineTable::line_of(std::uint64_t offset, std::uint32_t from) const noexcept {
    // Most lookups land on `from` or a line shortly after it.
    std::size_t line = from < starts_.size() ? from : starts_.size() - 1;
    for (int step = 0; step < 4; ++step) {
        if (line + 1 >= starts_.size() || starts_[line + 1] > offset) return static_cast<std::uint32_t>(line);
        ++line;
    }
    const auto it = std::upper_bound(starts_.begin() + static_cast<std::ptrdiff_t>(line), starts_.end(), offset);
    return static_cast<std::uint32_t>((it - starts_.begin()) - 1);
}

std::uint32_t LineTable::column_of(std::uint64_t offset, std::uint32_t line) const noexcept {
    const std::uint64_t start = starts_[line];
    if (offset <= start) return 0;
    const std::uint64_t end = std::min<std::uint64_t>(offset, text_.size());
    return count_chars(text_.substr(start, end - start));
}

}  // namespace torvex::rt
