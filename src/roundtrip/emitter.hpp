// The round-trip emitter: a tree back to YAML. An unedited document is its
// loaded text byte for byte; an edited one is written from the tree, keeping
// comments, blank lines, spacing, styles, anchors, tags, aliases, directive
// lines and config directives.
#pragma once

#include <string>

#include "encode/dump_options.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::rt {

struct EmitStyle {
    NullStyle null_style = NullStyle::Empty;  // how synthetic nulls are written
    bool prefer_double_quotes = true;         // quoting of plain texts that cannot stay plain
};

// The whole document (to_yaml, save).
std::string document_to_yaml(const DocumentContainer& container);

// One node written as if it were a root (a view's to_yaml).
std::string node_to_yaml(const YamlNode& node, const EmitStyle& style);

// An include boundary's content as the text of its own file.
std::string render_included_file(const YamlNode& node, bool prefer_double_quotes);

}  // namespace torvex::rt
