// One source position. Positions are 0-based inside the engine; the Python
// boundary adds 1 to line and column before showing them to a user.
#pragma once

#include <cstdint>

namespace torvex {

struct Span {
    std::uint32_t file_id = 0;  // 0: the text handed to the call; others come from includes
    std::uint32_t line = 0;     // 0-based
    std::uint32_t column = 0;   // 0-based, counted in characters (a tab counts 1)
    std::uint64_t offset = 0;   // 0-based byte offset into the UTF-8 text

    friend bool operator==(const Span&, const Span&) = default;
};

}  // namespace torvex
