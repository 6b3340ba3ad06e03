// UTF-8 helpers. Texts handed to the engine are validated once on input
// (validate_utf8), so the decoders here assume well-formed input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvex::utf8 {

// Length of the sequence a lead byte starts (1 for ASCII and for stray bytes).
inline std::size_t sequence_length(unsigned char lead) noexcept {
    if (lead < 0x80) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

// Decodes the scalar value starting at `pos` of a valid UTF-8 text.
// Returns 0x110000 when pos is at or past the end.
inline char32_t decode_at(std::string_view text, std::size_t pos) noexcept {
    if (pos >= text.size()) return 0x110000;
    auto b = [&](std::size_t i) -> char32_t {
        return pos + i < text.size() ? static_cast<unsigned char>(text[pos + i]) : 0;
    };
    char32_t c0 = b(0);
    if (c0 < 0x80) return c0;
    if (c0 < 0xE0) return ((c0 & 0x1F) << 6) | (b(1) & 0x3F);
    if (c0 < 0xF0) return ((c0 & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    return ((c0 & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
}

// Appends the UTF-8 form of a scalar value (the caller guarantees it is one).
inline void append(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        char buf[2] = {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(buf, 2);
    } else if (cp < 0x10000) {
        char buf[3] = {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                       static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(buf, 3);
    } else {
        char buf[4] = {static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
                       static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(buf, 4);
    }
}

// The first fault of an invalid UTF-8 text. `length` is the length of the bad
// sequence, or empty when the text ends inside a sequence.
struct Utf8Fault {
    std::size_t index = 0;
    std::optional<std::size_t> length;

    // "invalid utf-8 sequence of N bytes from index I" or
    // "incomplete utf-8 byte sequence from index I"
    std::string describe() const;
};

// Checks a byte string; returns the first fault, or nothing when it is valid
// UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF). Checks 64
// bytes at a time where the CPU has AVX2 (utf8_validate_avx2.cpp), else 16
// at a time where SSE2 is available (utf8_validate.cpp), and finishes with
// validate_scalar.
std::optional<Utf8Fault> validate(std::string_view bytes) noexcept;

// The same check one sequence at a time: the tail of validate, the fallback
// on other targets, and the reference the block-wise check is tested against.
std::optional<Utf8Fault> validate_scalar(std::string_view bytes) noexcept;

// The block-wise kernels validate chooses between, declared so that tests
// run each. The AVX2 one may be called only where has_avx2() says so.
#if defined(__x86_64__) && !defined(TORVEX_PORTABLE)
#define TORVEX_UTF8_AVX2 1
// Inline: the str maker asks twice per text, and a call costs more than the answer.
inline bool has_avx2() noexcept {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
std::optional<Utf8Fault> validate_avx2(std::string_view bytes) noexcept;
#else
#define TORVEX_UTF8_AVX2 0
#endif
std::optional<Utf8Fault> validate_sse2(std::string_view bytes) noexcept;  // validate_scalar without SSE2

// Where a kernel hands over: the bytes from the last sequence start at or
// before `i` to the end, by validate_scalar; those before `i` have passed.
std::optional<Utf8Fault> validate_tail(std::string_view bytes, std::size_t i) noexcept;

}  // namespace torvex::utf8
