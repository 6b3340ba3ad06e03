// The YAML scanner: one UTF-8 text in, the complete token list out (first
// StreamStart, last StreamEnd), or the first syntax error with its position.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/result.hpp"
#include "scanner/token.hpp"

namespace torvex {

// Nested flow collections the scanner accepts.
inline constexpr std::uint32_t kMaxFlowDepth = 1000;

// `text` must be valid UTF-8 and must outlive the returned list (payloads
// that are slices of it are not copied). With `record_comments` the list also
// holds one CommentRecord per comment, in source order.
Result<TokenList> tokenize(std::string_view text, std::uint32_t file_id, bool record_comments = false);

}  // namespace torvex
