// Fresh YAML output from a tape or a Value tree: one document, deterministic,
// shaped only by the values and the DumpOptions. Writing never fails.
#pragma once

#include <string>

#include "decode/tape.hpp"
#include "decode/value.hpp"
#include "encode/dump_options.hpp"
#include "encode/out_buffer.hpp"

namespace torvex {

// The whole document: "---\n" when explicit_start, the root, "...\n" when
// explicit_end. The text always ends with a line feed. Strings in the tree
// must be valid UTF-8; a BigInt holds an optional sign and decimal digits
// (underscores are dropped on output).
std::string emit_yaml(const Value& root, const DumpOptions& options);

// The same, appended to a caller's buffer.
void emit_yaml_into(OutBuffer& out, const Value& root, const DumpOptions& options);

// The subtree at `root` of a tape, appended to a caller's buffer: what the
// Value tree's form does after copying the tree to a tape.
void emit_yaml_into(OutBuffer& out, const Tape& tape, std::size_t root, const DumpOptions& options);

}  // namespace torvex
