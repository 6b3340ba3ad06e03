// The composed tree read as data, exactly as the value decoder reads the same
// text: tags through the document's %TAG lines (a core tag takes part in
// resolution, any other tag makes a scalar a tagged string), scalars resolved
// in the load's mode, aliases followed to their anchors, and merge keys (`<<`)
// applied with the decoder's rules (decode/merge_keys.cpp). The converters to
// Python (annotated and plain) read the tree only through this, so a composed
// load and a plain load of one text never disagree about the data.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "decode/document_directives.hpp"
#include "decode/value.hpp"
#include "resolver/resolve.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/path.hpp"

namespace torvex::rt {

// A node's tag as the decoder sees it.
struct ReadTag {
    std::optional<std::string> full;  // the resolved tag; absent when the node has none
    bool core = false;

    bool custom() const noexcept { return full.has_value() && !core; }
};

// One mapping entry as it reads once merge keys are applied.
struct ReadEntry {
    const YamlNode* key = nullptr;    // as written; for a merge value that could not be merged, the `<<` key
    const YamlNode* value = nullptr;  // as written (an alias stays an alias)
    // The value is a sequence of which only these items are kept: the items of
    // a merged sequence that were no mappings.
    std::optional<std::vector<const YamlNode*>> items;
    bool merge_key = false;  // the key is a `<<` whose value stays as a "<<" entry
};

// One document root's reading rules. Holds pointers into the root, which
// must not change while the reader is in use.
class DocumentReader {
public:
    DocumentReader(const YamlNode& root, ResolveMode mode);

    ResolveMode mode() const noexcept { return mode_; }

    ReadTag tag(const YamlNode& node) const;

    // What a Scalar or Null node reads as. A custom-tagged node reads as Str
    // (its text); an untagged Null node as Null.
    Resolved resolve(const YamlNode& node) const;

    // The node an alias chain ends at (the node itself when it is no alias);
    // null when an alias on the way names no anchor defined before it.
    const YamlNode* follow(const YamlNode& node) const;

    // A mapping key that marks a merge: `<<` read as the merge kind.
    bool is_merge_key(const YamlNode& key) const;
    // Whether any key of this mapping is a merge key.
    bool has_merge_keys(const YamlNode& mapping) const;

    // A mapping's entries in the order the decoder's value tree holds them
    // once merge keys are applied: the mapping's own entries (repeated keys
    // kept), then the merged ones whose keys are new, then the merge values
    // that could not be merged, each under a "<<" key.
    std::vector<ReadEntry> entries(const YamlNode& mapping, std::size_t depth = 0) const;

    // A key as the decoder's value tree holds it (aliases expanded, merge
    // keys applied), for key identity.
    Value key_value(const YamlNode& node, std::size_t depth = 0) const;

private:
    std::string identity(const ReadEntry& entry) const;
    Value raw_value(const YamlNode& node, std::size_t depth) const;

    const YamlNode& root_;
    ResolveMode mode_;
    DocumentDirectives directives_;
    mutable std::optional<AliasTargets> targets_;  // built on the first alias
};

}  // namespace torvex::rt
