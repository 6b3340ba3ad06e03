// Characters in a UTF-8 byte range, counted inline: every column a reader
// reports comes through here, mostly over a few bytes, where a call and a
// vector loop's set-up would cost more than the count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace torvex::utf8 {

namespace detail {
// Continuation bytes (10xxxxxx) among the eight bytes of `word`.
inline std::size_t continuation_bytes(std::uint64_t word) noexcept {
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    // One bit per byte (at most eight), summed into the top byte by the multiply.
    const std::uint64_t marks = (word & ~(word << 1) & kHighBits) >> 7;
    return static_cast<std::size_t>((marks * kOnes) >> 56);
}
}  // namespace detail

// Bytes that are not continuation bytes, eight at a time, and a short range
// or a tail in one word put together from its 4, 2 and 1 byte pieces.
inline std::uint32_t count_chars(const unsigned char* p, std::size_t size) noexcept {
    std::size_t left = size;
    std::size_t continuations = 0;
    for (; left >= 8; p += 8, left -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        continuations += detail::continuation_bytes(word);
    }
    if (left != 0) {
        std::uint64_t word = 0;
        std::size_t at = 0;
        if (left & 4) {
            std::uint32_t piece;
            std::memcpy(&piece, p, sizeof piece);
            word = piece;
            at = 4;
        }
        if (left & 2) {
            std::uint16_t piece;
            std::memcpy(&piece, p + at, sizeof piece);
            word |= static_cast<std::uint64_t>(piece) << (8 * at);
            at += 2;
        }
        if (left & 1) word |= static_cast<std::uint64_t>(p[at]) << (8 * at);
        continuations += detail::continuation_bytes(word);
    }
    return static_cast<std::uint32_t>(size - continuations);
}

}  // namespace torvex::utf8
