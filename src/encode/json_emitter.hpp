// JSON (RFC 8259) output from a Value tree or a tape, with no trailing line feed.
#pragma once

#include <string>

#include "core/result.hpp"
#include "decode/tape.hpp"
#include "decode/value.hpp"
#include "encode/json_string.hpp"
#include "encode/out_buffer.hpp"

namespace torvex {

// indent: spaces per nesting level, 0 for compact output. sort_keys orders
// object members stably by the bytes of their key text. Tags are dropped.
// Fails (ErrorKind::Encode) only when a collection is used as a mapping key.
// Non-finite floats are written as null.
Result<std::string> emit_json(const Value& root, unsigned indent, bool sort_keys);

// The same, appended to a caller's buffer; on failure the buffer holds a
// partial text that the caller discards.
Result<void> emit_json_into(OutBuffer& out, const Value& root, unsigned indent, bool sort_keys);

// The same for the subtree of a tape at `root`: the form the converters
// build, so no tree is made for the output. `level` is the nesting level the
// subtree is written at, which sets its indentation.
Result<void> emit_json_into(OutBuffer& out, const Tape& tape, std::size_t root, unsigned indent, bool sort_keys,
                            std::size_t level = 0);

// The scalar at `root` (tags skipped) as an object key: a string escaped,
// another scalar's JSON text in quotes. Fails like emit_json for a collection.
Result<void> emit_json_key_into(OutBuffer& out, const Tape& tape, std::size_t root);

inline constexpr const char* kJsonCollectionKeyMessage = "a collection cannot be a JSON object key";

}  // namespace torvex
