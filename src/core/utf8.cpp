#include "core/utf8.hpp"

#include "core/wide_bytes.hpp"

namespace torvex::utf8 {

std::string Utf8Fault::describe() const {
    if (length) {
        return "invalid utf-8 sequence of " + std::to_string(*length) + " bytes from index " +
               std::to_string(index);
    }
    return "incomplete utf-8 byte sequence from index " + std::to_string(index);
}

namespace {

bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

// Width announced by a lead byte; 0 for bytes that cannot start a sequence.
std::size_t lead_width(unsigned char b) noexcept {
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) return 2;
    if (b >= 0xE0 && b <= 0xEF) return 3;
    if (b >= 0xF0 && b <= 0xF4) return 4;
    return 0;
}

// The second byte's range depends on the lead byte: it is where overlongs,
// surrogates and values above U+10FFFF are excluded.
bool second_byte_ok(unsigned char lead, unsigned char b) noexcept {
    switch (lead) {
        case 0xE0: return b >= 0xA0 && b <= 0xBF;
        case 0xED: return b >= 0x80 && b <= 0x9F;
        case 0xF0: return b >= 0x90 && b <= 0xBF;
        case 0xF4: return b >= 0x80 && b <= 0x8F;
        default: return is_continuation(b);
    }
}

}  // namespace

std::optional<Utf8Fault> validate_scalar(std::string_view bytes) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {  // ASCII runs, the bulk of most texts, many bytes at a time
            i = wide::ascii_end(p, i, n);
            continue;
        }
        const unsigned char lead = p[i];
        const std::size_t width = lead_width(lead);
        if (width == 0) return Utf8Fault{i, 1};
        // Each further byte: running out is "incomplete", a bad byte ends the
        // invalid sequence just before it.
        for (std::size_t k = 1; k < width; ++k) {
            if (i + k >= n) return Utf8Fault{i, std::nullopt};
            const unsigned char b = p[i + k];
            const bool good = k == 1 ? second_byte_ok(lead, b) : is_continuation(b);
            if (!good) return Utf8Fault{i, k};
        }
        i += width;
    }
    return std::nullopt;
}

}  // namespace torvex::utf8
