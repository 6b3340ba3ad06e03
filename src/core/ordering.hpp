// Ordering of texts: bytewise over UTF-8 as unsigned bytes, a proper prefix
// first. Used for sorted mapping keys and directory listings; sorts are stable.
#pragma once

#include <algorithm>
#include <cstring>
#include <string_view>

namespace torvex {

inline bool bytewise_less(std::string_view a, std::string_view b) noexcept {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    if (n != 0) {
        const int c = std::memcmp(a.data(), b.data(), n);  // memcmp compares unsigned bytes
        if (c != 0) return c < 0;
    }
    return a.size() < b.size();
}

// Stable sort of a range by a text key: key(element) -> std::string_view.
template <class It, class KeyFn>
void stable_sort_by_text(It first, It last, KeyFn key) {
    std::stable_sort(first, last, [&](const auto& x, const auto& y) { return bytewise_less(key(x), key(y)); });
}

}  // namespace torvex
