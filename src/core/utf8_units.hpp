// UTF-8 text as fixed-width code units (1, 2 or 4 bytes per character), the
// forms a str is stored in. One pass measures a text (characters, and the
// width its widest character needs); a second decodes it into a buffer of that
// width. Both move 16 bytes at a time where SSE2 is available (decoding 32
// where the CPU has AVX2, checked at run time): runs of ASCII,
// the bulk of real texts, are copied or widened whole. Neither reads outside
// [text, text + size): no padding is assumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvex::utf8 {

struct Measure {
    std::size_t chars = 0;  // characters, if the text is valid (bytes that are not continuation bytes)
    unsigned char top = 0;  // the largest byte

    bool ascii() const noexcept { return top < 0x80; }
    // Code unit width of the widest character: a lead byte of at most 0xC3
    // starts a character below U+0100, one below 0xF0 a character below U+10000.
    unsigned width() const noexcept { return top < 0xC4 ? 1 : top < 0xF0 ? 2 : 4; }
};

Measure measure(const unsigned char* text, std::size_t size) noexcept;

// Decode a text into exactly `chars` units (from measure()). Each returns false,
// having written nothing past out + chars, when the text is not valid UTF-8 or
// holds a character too wide for the unit; the caller then falls back to a
// checking decoder for the error.
bool decode_units(const unsigned char* text, std::size_t size, std::uint8_t* out, std::size_t chars) noexcept;
bool decode_units(const unsigned char* text, std::size_t size, std::uint16_t* out, std::size_t chars) noexcept;
bool decode_units(const unsigned char* text, std::size_t size, std::uint32_t* out, std::size_t chars) noexcept;

// The other way: `n` code units of `width` bytes (1, 2 or 4) as UTF-8, which
// replaces `out`. False, `out` then unspecified, when a unit is a surrogate,
// which UTF-8 cannot encode. Runs of ASCII units are narrowed 16 at a time.
bool encode_units(const void* units, std::size_t n, unsigned width, std::string& out);

}  // namespace torvex::utf8
