// Schema validation for every load pipeline: the first document of a
// composed stream against the schema the call settled on (LoadOptions::
// resolved_schema), read with the call's resolution mode. A violation raises
// TorvexSchemaError for the first one found, with `schema_path`, `line` and
// `column`, and `file` when the file table names the file it lies in.
#pragma once

#include <string>
#include <vector>

#include "decode/tape.hpp"
#include "ffi/load_options.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::ffi {

// True when there is nothing to check (no schema, no document) or the first
// root conforms; false with the Python exception set otherwise (a violation,
// or a schema object the conversion refuses). `file_paths` maps span file
// ids to paths; empty when the load read no files.
bool validate_first_document(const LoadOptions& options, const std::vector<rt::YamlNode>& roots,
                             const std::vector<std::string>& file_paths);

// The plain pipeline's check of a decoded stream: `tape` and `root` hold its
// first document (merge keys applied), `anchors` the anchors its stream defines. When the
// decoded document already conforms, and no alias expansion bound could
// have made the composed tree read otherwise (few enough anchors and
// nodes), that verdict stands; otherwise `text` is composed again and its
// first document validated as above, which finds the violation's path and
// position. A composer error raises TorvexParseError.
bool validate_decoded(const LoadOptions& options, std::string_view text, const Tape& tape, std::size_t root,
                      std::size_t anchors);

}  // namespace torvex::ffi
