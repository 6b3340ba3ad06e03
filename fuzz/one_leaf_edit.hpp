// fuzz_roundtrip's one-leaf edit check: one scalar leaf of the first
// document (chosen by the input's size) is given a new text through the same
// assignment item access uses; the written text must keep every line the
// leaf did not stand on, byte for byte, and hold the new text on the leaf's
// lines (on one line, for a leaf on one line).
//
// Leaves are those `walk()` reaches (sequence items, values under scalar
// keys). Left out, as in bench/edit_lines.py (EXCLUSION_RULES): aliases and
// merge keys, null leaves, texts with a lone CR line break, scalars whose tag
// or anchor stands on a line above them, block scalars followed by a line
// deeper than their parent, documents that are one scalar; only the first
// document is edited.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "require.hpp"
#include "roundtrip/emitter.hpp"
#include "roundtrip/path.hpp"
#include "roundtrip/value.hpp"

namespace torvex_fuzz {

namespace leaf_edit {

namespace rt = torvex::rt;

// Where a leaf stands: its parent collection and its index there (an item, or a pair).
struct Place {
    rt::YamlNode* parent;
    std::size_t index;
    rt::YamlNode* leaf;
};

inline bool excluded(const rt::YamlNode& n) {
    if (n.kind == rt::NodeKind::Alias || n.kind == rt::NodeKind::Null) return true;  // "alias", "null"
    return n.kind == rt::NodeKind::Scalar && rt::resolve_scalar(n).kind == torvex::ResolvedKind::Null;
}

inline std::vector<Place> leaves(rt::YamlNode& root) {
    std::vector<Place> out;  // "scalar document": a root that is one scalar is not edited
    std::vector<rt::YamlNode*> work{&root};
    while (!work.empty()) {
        rt::YamlNode* n = work.back();
        work.pop_back();
        const bool mapping = n->kind == rt::NodeKind::Mapping;
        if (!mapping && n->kind != rt::NodeKind::Sequence) continue;
        for (std::size_t i = n->size(); i-- > 0;) {
            rt::YamlNode* child = mapping ? &n->value(i) : &n->children[i];
            if (mapping && (n->key(i).kind != rt::NodeKind::Scalar || rt::is_merge_key(n->key(i)))) continue;
            if (child->is_collection()) {
                work.push_back(child);
            } else if (!excluded(*child)) {
                out.push_back(Place{n, i, child});
            }
        }
    }
    return out;
}

inline std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t lf = text.find('\n', at);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        out.push_back(text.substr(at, end - at));
        at = end;
    }
    return out;
}

inline std::size_t line_of(std::string_view text, std::size_t offset) {
    std::size_t line = 0;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) line += text[i] == '\n';
    return line;
}

inline bool lone_cr(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return true;
    return false;
}

inline bool deeper_line_after(std::string_view text, const rt::YamlNode& leaf, const rt::YamlNode& parent) {
    if (leaf.scalar_style != torvex::ScalarStyle::Literal && leaf.scalar_style != torvex::ScalarStyle::Folded)
        return false;
    for (std::string_view line : lines(text.substr(std::min<std::size_t>(leaf.end_offset, text.size())))) {
        const std::size_t indent = line.find_first_not_of(' ');
        if (indent == std::string_view::npos || line[indent] == '\n' || line[indent] == '\r' || line[indent] == '#')
            continue;
        return indent > parent.span.column;
    }
    return false;
}

}  // namespace leaf_edit

inline void require_one_leaf_edit(torvex::rt::DocumentContainer& doc, std::string_view text, std::size_t seed) {
    namespace rt = torvex::rt;
    using namespace leaf_edit;
    if (doc.documents.empty() || lone_cr(text)) return;
    rt::YamlNode& root = doc.documents[0];
    const std::vector<Place> found = leaves(root);
    if (found.empty()) return;
    const Place place = found[seed % found.size()];
    const std::size_t first = line_of(text, place.leaf->span.offset);
    // "line deeper than a block scalar's parent": what follows would join a one-line value.
    if (deeper_line_after(text, *place.leaf, *place.parent)) return;
    // "properties above the content": a tag or anchor on a line above the scalar.
    if (const auto props = place.leaf->comments.properties(); props && line_of(text, props->offset) != first) return;
    const std::size_t last = line_of(text, std::max<std::size_t>(place.leaf->span.offset,
                                                                  place.leaf->end_offset ? place.leaf->end_offset - 1 : 0));
    constexpr std::string_view kWord = "edited";
    if (place.parent->kind == rt::NodeKind::Mapping) {
        const std::string key(place.parent->key(place.index).text.str());
        // The key text finds the last pair that has it, as item access does.
        if (place.parent->find_pair(key) != static_cast<std::ptrdiff_t>(place.index)) return;
        rt::assign_key(root, *place.parent, key, rt::new_plain_node(key), rt::new_plain_node(kWord), true);
    } else {
        rt::assign_index(root, *place.parent, place.index, rt::new_plain_node(kWord), true);
    }
    const std::string out = rt::document_to_yaml(doc);
    const std::vector<std::string_view> before = lines(text);
    const std::vector<std::string_view> after = lines(out);
    const std::size_t tail = before.size() > last ? before.size() - last - 1 : 0;
    require(after.size() >= first + tail + 1);
    for (std::size_t i = 0; i < first; ++i) require(after[i] == before[i]);
    for (std::size_t i = 0; i < tail; ++i) require(after[after.size() - 1 - i] == before[before.size() - 1 - i]);
    const std::size_t middle = after.size() - first - tail;
    require(first != last || middle == 1);
    std::string changed;
    for (std::size_t i = first; i < first + middle; ++i) changed.append(after[i]);
    require(changed.find(kWord) != std::string::npos);
}

}  // namespace torvex_fuzz
