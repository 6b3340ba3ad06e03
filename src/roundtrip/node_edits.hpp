// Edits made through node handles that go beyond replacing values: comments,
// anchors, turning a node into an alias and back. Each keeps the document
// writable as YAML that reads back to what the handles report.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/ast.hpp"
#include "roundtrip/path.hpp"

namespace torvex::rt {

// Why a text cannot be an inline comment (it would end the comment's line
// and let the rest be read as YAML), or nothing when it can.
std::optional<std::string> inline_comment_problem(std::string_view text);

// The head comment lines of a text: split at each line feed (a carriage
// return before it dropped, a final line feed adding no empty line); nothing
// when a line holds a carriage return of its own (the message is set then).
std::optional<std::vector<Text>> head_comment_lines(std::string_view text, std::string& problem);

// Why a name cannot be an anchor (empty, white space, line breaks, control
// characters, flow indicators), or nothing when it can.
std::optional<std::string> anchor_name_problem(std::string_view name);

// Whether a node other than `except` defines `name` anywhere in the document.
bool anchor_used_elsewhere(const DocumentContainer& doc, std::string_view name, const YamlNode* except);

// The node that defines `name` in `root` as `anchors` lists them: through
// sequence items and mapping values under scalar keys, the last definition
// winning. Its path goes to `path`.
const YamlNode* find_anchor(const YamlNode& root, std::string_view name, NodePath& path);

// Every alias named `name` reachable from `root` the same way, in document order.
std::vector<NodePath> alias_paths(const YamlNode& root, std::string_view name);

// Document order of two paths below one root: negative when `a` comes
// first, positive when `b` does; `ancestor` is set when one path is a prefix
// of the other (the shorter comes first).
int compare_paths(const YamlNode& root, const NodePath& a, const NodePath& b, bool& ancestor);

// A copy of `target` for detaching an alias: no anchors, aliases
// inside replaced by copies of their targets; past `max_depth` levels or
// `max_nodes` copied nodes, a node becomes a Null at its start position.
inline constexpr std::size_t kDetachMaxDepth = 100;
inline constexpr std::size_t kDetachMaxNodes = 1'000'000;
YamlNode detached_copy(const YamlNode& target, const AliasTargets& targets);

}  // namespace torvex::rt
