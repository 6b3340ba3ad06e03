// How a string scalar may be written in YAML: plain, single-quoted,
// double-quoted or as a literal block scalar, and the escaping of the
// double-quoted form.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "encode/out_buffer.hpp"

namespace torvex::yaml {

struct ScalarScan {
    bool needs_quotes = false;  // cannot be plain anywhere
    bool flow_unsafe = false;   // holds a flow indicator: cannot be plain inside a flow collection
    bool literal_ok = false;    // can be a literal block scalar
    bool single_ok = false;     // can be single-quoted
};

// Classifies a non-empty string in one pass (plus a resolver call for the
// few strings that start like a number).
ScalarScan scan_scalar(std::string_view s) noexcept;

// What the syntax alone allows for a text (its resolved type is the caller's
// affair: a plain `true` stays plain). Used where a scalar keeps its style
// unless that style cannot hold the text.
struct PlainFit {
    bool block_ok = false;   // can be a plain scalar outside flow collections
    bool flow_ok = false;    // can be a plain scalar inside a flow collection
    bool single_ok = false;  // can be single-quoted on one line (apostrophes doubled)
    bool block_scalar_ok = false;  // a literal or folded block scalar can hold it
};

// One pass over `s`; empty texts fit no plain form.
PlainFit plain_fit(std::string_view s) noexcept;

// True when the string reads as something other than a string (null, bool,
// number, merge key) under YAML 1.2 core or YAML 1.1 rules, or is one of the
// words a reader could take for a marker: the caller must quote it.
bool is_reserved_word(std::string_view s) noexcept;
bool reads_as_number(std::string_view s) noexcept;

// A single space with a non-space byte on both sides.
bool has_foldable_space(std::string_view s) noexcept;

// Appends the double-quoted body (without the quotes): control characters,
// the quote, the backslash, C1 controls, NEL, LS, PS, BOM and the
// non-characters U+FFFE/U+FFFF are escaped; everything else is copied.
void append_escaped(OutBuffer& out, std::string_view s);
void append_escaped(std::string& out, std::string_view s);

}  // namespace torvex::yaml
