// The round-trip emitter: a tree back to YAML. An unedited document is its
// loaded text byte for byte; an edited one is written from the tree, keeping
// comments, blank lines, spacing, styles, anchors, tags, aliases, directive
// lines and config directives.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// The text each file id of `container` was read from (empty where unknown),
// for the renderers below to write unedited nodes as read.
std::vector<std::string_view> source_texts(const DocumentContainer& container);

// An include boundary's content as the text of its own file.
std::string render_included_file(const YamlNode& node, bool prefer_double_quotes,
                                 std::span<const std::string_view> sources = {});

// The documents of one included file, in order, written as the file's text
// (as render_included_file writes one). Directives below the roots are
// written as directives.
std::string render_file_documents(const std::vector<const YamlNode*>& roots, bool prefer_double_quotes,
                                  std::span<const std::string_view> sources = {});

}  // namespace torvex::rt
