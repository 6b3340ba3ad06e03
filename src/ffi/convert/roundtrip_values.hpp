// Round-trip tree nodes <-> Python values: a node's plain value (what item
// access, to_dict and walk return) and the node an assigned value becomes.
#pragma once

#include <cstddef>
#include <optional>
#include <unordered_map>

#include "ffi/py_ref.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/reading.hpp"

namespace torvex::ffi {

// Deeper nesting of an assigned value is refused (it is most likely a
// container that holds itself).
inline constexpr unsigned kMaxAssignDepth = 1000;

// Nodes below one root (whose anchors their aliases refer to) as plain
// Python objects: scalars by YAML 1.2 core rules, nulls as None, sequences
// as lists, mappings as dicts (collection keys as tuples, merge keys applied
// as a load applies them), aliases as the value of their anchor's node,
// undefined aliases as None. Aliases are resolved on first need; a collection carrying an anchor is converted once
// per converter and shared by its aliases. Failures return a null PyRef
// with the error set.
class NodeConverter {
public:
    explicit NodeConverter(const rt::YamlNode& root);

    PyRef value(const rt::YamlNode& node, std::size_t depth = 0);
    // Collections as (nested) tuples, a mapping as a tuple of pairs, as dict keys need.
    PyRef key(const rt::YamlNode& node, std::size_t depth = 0);
    // The node an alias chain ends at (the node itself when it is no alias); null when undefined.
    const rt::YamlNode* alias_target(const rt::YamlNode& node);
    const rt::DocumentReader& reader() const noexcept { return reader_; }

private:
    PyRef alias(const rt::YamlNode& node, std::size_t depth, bool as_key);
    PyRef sequence(const rt::YamlNode& node, std::size_t depth);
    PyRef mapping(const rt::YamlNode& node, std::size_t depth);

    rt::DocumentReader reader_;  // YAML 1.2 rules, the document's %TAG lines, aliases, merge keys
    std::unordered_map<const rt::YamlNode*, PyRef> shared_;
};

// The node for an assigned Python value, or nothing with the error set.
std::optional<rt::YamlNode> to_node(PyObject* value, bool prefer_double_quotes);

}  // namespace torvex::ffi
