// Turns input bytes into one owned UTF-8 text: UTF-16 and UTF-32 are detected
// by the byte patterns of the YAML encoding-detection table and converted;
// UTF-8 is validated. A byte-order mark is kept (as EF BB BF); the reader
// skips it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/result.hpp"

namespace torvex {

enum class TextEncoding { Utf8, Utf16BE, Utf16LE, Utf32BE, Utf32LE };

TextEncoding detect_encoding(std::string_view bytes) noexcept;

// UTF-16 and UTF-32 input converted; nothing when the bytes are valid UTF-8
// and can be used as they are; the error of decode_bytes otherwise.
std::optional<Result<std::string>> convert_if_wide(std::string_view bytes);

// Errors carry ErrorKind::InvalidText and the exact user-facing message.
Result<std::string> decode_bytes(std::string_view bytes);

// The same for bytes the caller already owns: valid UTF-8 is moved, not copied.
Result<std::string> decode_owned_bytes(std::string bytes);

}  // namespace torvex
