// Line ends of re-emitted files. The writers produce line feeds; a file that
// was read with CRLF line ends is written back with them, so that an edit
// changes the lines it touches and no others.
#pragma once

#include <string>
#include <string_view>

namespace torvex::rt {

// Whether `text` breaks a line with a carriage return not followed by a line feed.
bool has_lone_cr(std::string_view text) noexcept;

// Whether `source` ends its first line with CRLF (a text without line breaks: no).
bool uses_crlf(std::string_view source) noexcept;

// `text` with every line feed that has no carriage return before it made CRLF.
std::string with_crlf(std::string text);

// `emitted` in the line-end style of `source`.
inline std::string in_style_of(std::string_view source, std::string emitted) {
    return uses_crlf(source) ? with_crlf(std::move(emitted)) : emitted;
}

}  // namespace torvex::rt
