// The value decoder: YAML text -> one Value per document, through the
// scanner and the recursive-descent parser, with resolution, anchors and
// aliases, merge keys, the duplicate- and complex-key policies, and the
// nesting and alias-expansion limits. Touches no Python object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "decode/value.hpp"
#include "resolver/resolve.hpp"

namespace torvex {

inline constexpr std::uint32_t kMaxNestingDepth = 1000;
inline constexpr std::uint64_t kMaxExpandedNodes = 10'000'000;

struct DecodeOptions {
    ResolveMode mode = ResolveMode::Yaml12;
    bool duplicate_keys_error = false;
    bool duplicate_keys_warn = false;  // ignored when duplicate_keys_error is set
    bool reject_complex_keys = false;
    bool yaml11_warnings = false;      // 1.1-versus-1.2 differences become warnings
    // For a run that checks the syntax of a round-trip document, which keeps
    // aliases as written: an alias to no anchor, or one past the expansion
    // limit, reads as null instead of failing.
    bool aliases_unchecked = false;
};

struct DecodedStream {
    std::vector<Value> documents;
    std::vector<std::string> warnings;  // in the order produced
};

Result<DecodedStream> decode_stream(std::string_view text, std::uint32_t file_id, const DecodeOptions& options);

}  // namespace torvex
