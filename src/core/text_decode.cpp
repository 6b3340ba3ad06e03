#include "core/text_decode.hpp"

#include <optional>

#include "core/utf8.hpp"

namespace torvex {

namespace {

unsigned char byte_at(std::string_view s, std::size_t i) noexcept { return static_cast<unsigned char>(s[i]); }

Error invalid(std::string message) { return Error::plain(ErrorKind::InvalidText, std::move(message)); }

Result<std::string> decode_utf16(std::string_view in, bool big_endian) {
    if (in.size() % 2 != 0) return invalid("invalid UTF-16: byte count is not a multiple of 2");
    std::string out;
    out.reserve(in.size() + in.size() / 2);
    const std::size_t units = in.size() / 2;
    auto unit = [&](std::size_t k) -> char32_t {
        const unsigned a = byte_at(in, 2 * k), b = byte_at(in, 2 * k + 1);
        return big_endian ? (a << 8 | b) : (b << 8 | a);
    };
    for (std::size_t k = 0; k < units; ++k) {
        char32_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (k + 1 >= units) return invalid("invalid UTF-16: unpaired surrogate");
            const char32_t low = unit(k + 1);
            if (low < 0xDC00 || low > 0xDFFF) return invalid("invalid UTF-16: unpaired surrogate");
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            ++k;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return invalid("invalid UTF-16: unpaired surrogate");
        }
        utf8::append(out, u);
    }
    return out;
}

Result<std::string> decode_utf32(std::string_view in, bool big_endian) {
    if (in.size() % 4 != 0) return invalid("invalid UTF-32: byte count is not a multiple of 4");
    std::string out;
    out.reserve(in.size() / 2);
    for (std::size_t i = 0; i < in.size(); i += 4) {
        const std::uint32_t b0 = byte_at(in, i), b1 = byte_at(in, i + 1), b2 = byte_at(in, i + 2),
                            b3 = byte_at(in, i + 3);
        const std::uint32_t u = big_endian ? (b0 << 24 | b1 << 16 | b2 << 8 | b3) : (b3 << 24 | b2 << 16 | b1 << 8 | b0);
        if ((u >= 0xD800 && u <= 0xDFFF) || u > 0x10FFFF) return invalid("invalid UTF-32: not a Unicode scalar value");
        utf8::append(out, static_cast<char32_t>(u));
    }
    return out;
}

}  // namespace

TextEncoding detect_encoding(std::string_view s) noexcept {
    const std::size_t n = s.size();
    auto b = [&](std::size_t i) { return byte_at(s, i); };
    if (n >= 4 && b(0) == 0x00 && b(1) == 0x00 && b(2) == 0xFE && b(3) == 0xFF) return TextEncoding::Utf32BE;
    if (n >= 4 && b(0) == 0xFF && b(1) == 0xFE && b(2) == 0x00 && b(3) == 0x00) return TextEncoding::Utf32LE;
    if (n >= 2 && b(0) == 0xFE && b(1) == 0xFF) return TextEncoding::Utf16BE;
    if (n >= 2 && b(0) == 0xFF && b(1) == 0xFE) return TextEncoding::Utf16LE;
    if (n >= 4 && b(0) == 0 && b(1) == 0 && b(2) == 0) return TextEncoding::Utf32BE;
    if (n >= 4 && b(1) == 0 && b(2) == 0 && b(3) == 0) return TextEncoding::Utf32LE;
    if (n >= 2 && b(0) == 0) return TextEncoding::Utf16BE;
    if (n >= 2 && b(1) == 0) return TextEncoding::Utf16LE;
    return TextEncoding::Utf8;
}

std::optional<Result<std::string>> convert_if_wide(std::string_view bytes) {
    switch (detect_encoding(bytes)) {
        case TextEncoding::Utf32BE: return decode_utf32(bytes, true);
        case TextEncoding::Utf32LE: return decode_utf32(bytes, false);
        case TextEncoding::Utf16BE: return decode_utf16(bytes, true);
        case TextEncoding::Utf16LE: return decode_utf16(bytes, false);
        case TextEncoding::Utf8: break;
    }
    if (auto fault = utf8::validate(bytes)) return Result<std::string>(invalid("invalid UTF-8: " + fault->describe()));
    return std::nullopt;
}

Result<std::string> decode_bytes(std::string_view bytes) {
    if (auto converted = convert_if_wide(bytes)) return std::move(*converted);
    return std::string(bytes);
}

Result<std::string> decode_owned_bytes(std::string bytes) {
    if (auto converted = convert_if_wide(bytes)) return std::move(*converted);
    return bytes;
}

}  // namespace torvex
