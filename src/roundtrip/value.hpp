// The Python-free half of converting between tree nodes and plain values:
// what a scalar node means, and the nodes that new values become.
#pragma once

#include <string_view>

#include "resolver/resolve.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::rt {

// What a Scalar or Null node reads as under YAML 1.2 core rules, its tag
// taking part (`!!str` with no content is the empty string, `!!int 7` an int).
// Tags are taken as written; `DocumentReader` reads them through a
// document's %TAG lines.
Resolved resolve_scalar(const YamlNode& node) noexcept;

// The quoting style a new string value gets: plain when the text reads back
// as that string wherever a block value stands, otherwise quoted (double
// quotes when preferred or when single quotes cannot hold the text).
ScalarStyle string_style(std::string_view text, bool prefer_double_quotes) noexcept;

// New nodes for assigned values; their texts are their own.
YamlNode new_string_node(std::string_view text, bool prefer_double_quotes);
YamlNode new_plain_node(std::string_view text);
YamlNode new_null_node();
YamlNode new_collection(NodeKind kind);

}  // namespace torvex::rt
