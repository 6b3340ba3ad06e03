// Addressing nodes by path, and the edits made through paths. Handles on the
// Python side keep a root index and a path, never a pointer into the tree,
// and resolve them afresh on every use: an edit that removes what a path goes
// through makes the handle stale, re-adding it makes it work again.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "roundtrip/ast.hpp"

namespace torvex::rt {

struct PathSegment {
    bool is_index = false;
    std::size_t index = 0;  // is_index: a sequence position
    std::string key;        // otherwise: a mapping key's text, or with `written` its written form
    // `key` is written_form() of the key: for pairs whose key text cannot
    // address them (collection, alias and null keys, or a text that a later
    // key of another style repeats), found by lookups with non-str keys.
    bool written = false;

    static PathSegment at(std::size_t i) { return PathSegment{true, i, {}, false}; }
    static PathSegment named(std::string_view k) { return PathSegment{false, 0, std::string(k), false}; }
    static PathSegment written_as(std::string form) { return PathSegment{false, 0, std::move(form), true}; }
};

using NodePath = std::vector<PathSegment>;

// A canonical text of how a key is written (kind, style, tag and text,
// recursively; anchors left out): two keys of one document with the same
// written form read as the same value.
std::string written_form(const YamlNode& key);

// The pair of `mapping` a key segment selects (the last that matches), or -1.
std::ptrdiff_t find_segment_pair(const YamlNode& mapping, const PathSegment& segment) noexcept;

// The segment that selects pair `pair` of `mapping`: its key text when that
// finds it, otherwise its written form; nothing when neither does (a pair
// shadowed by a later one written the same way).
std::optional<PathSegment> pair_segment(const YamlNode& mapping, std::size_t pair);

// The node a path leads to from `root`, or null when the path is stale.
// Aliases are not followed.
YamlNode* resolve_path(YamlNode& root, const NodePath& path) noexcept;
const YamlNode* resolve_path(const YamlNode& root, const NodePath& path) noexcept;
// From the container: null too when `root_index` is no longer a root.
YamlNode* resolve_path(DocumentContainer& doc, std::size_t root_index, const NodePath& path) noexcept;

// The path from `root` to `target` through sequence items and mapping values
// whose key is a scalar; nothing when `target` cannot be addressed that way.
std::optional<NodePath> path_to(const YamlNode& root, const YamlNode* target);

// Which node each alias of a document stands for: the latest node before it,
// in document order, that defined the alias's anchor and was complete by then
// (so an alias inside its own anchor's node has no target). Aliases without
// a target are absent.
class AliasTargets {
public:
    explicit AliasTargets(const YamlNode& root);
    const YamlNode* target(const YamlNode& alias) const noexcept;
    bool empty() const noexcept { return targets_.empty(); }

private:
    std::unordered_map<const YamlNode*, const YamlNode*> targets_;
};

// Follows a chain of aliases to the first node that is not one; null when
// some alias on the way has no target.
const YamlNode* follow_aliases(const YamlNode* node, const AliasTargets& targets) noexcept;

// Whether a mapping key is a merge key: a plain, untagged `<<`.
bool is_merge_key(const YamlNode& key) noexcept;

// The value a mapping takes for `key` through its merge keys (`<<: *base`,
// `<<: [*a, *b]`, the earlier source winning) when it has no pair of its own;
// null when none has it.
const YamlNode* find_merged(const YamlNode& mapping, std::string_view key, const AliasTargets& targets) noexcept;

// Whether a tag fixes how a scalar reads (`!`, `!!int`, `tag:yaml.org,2002:str`,
// ...): such a tag is dropped when a new value replaces the node's content.
bool is_standard_tag(std::string_view tag) noexcept;

// What an edit is about to remove: a whole subtree, or only the anchor a node defines.
struct Doomed {
    const YamlNode* node;
    bool whole_subtree;
};

// Before anchored nodes go away, the aliases elsewhere in `root` that stand
// for them become independent copies of them, so that what the document
// says stays what it said and no alias is left without its anchor.
void detach_aliases_of(YamlNode& root, const std::vector<Doomed>& doomed);

// Points the aliases of `anchored` (a node defining an anchor) at `new_name`,
// the name it is about to take.
void rename_aliases(YamlNode& root, const YamlNode& anchored, std::string_view new_name);

// Replaces a node's content by `content` (a converted value), keeping the
// node's comments, spacing, anchor and custom tag; marks it modified.
// `root` is the document root the node lies in.
void write_value(YamlNode& root, YamlNode& node, YamlNode&& content);

enum class EditOutcome { Done, NotContainer, WrongKeyKind, IndexOutOfRange, KeyMissing };

// `container[key] = content` on a mapping (key text; a new pair is appended
// when none has it) and `container[index] = content` on a sequence (never
// extends it). `new_key` is the scalar to use when a pair is appended. The
// content first takes the habits of its place (new_content.hpp);
// `prefer_double_quotes` is the document's quoting choice.
EditOutcome assign_key(YamlNode& root, YamlNode& container, std::string_view key, YamlNode&& new_key,
                       YamlNode&& content, bool prefer_double_quotes);
EditOutcome assign_index(YamlNode& root, YamlNode& container, std::size_t index, YamlNode&& content,
                         bool prefer_double_quotes);
// Appends the pair `key: content` to a mapping, both marked modified.
void append_pair(YamlNode& mapping, YamlNode&& key, YamlNode&& content);

// `del container[key]` / `del container[index]`: every pair with that key
// text, or the item at that index, is removed.
EditOutcome delete_key(YamlNode& root, YamlNode& container, std::string_view key);
EditOutcome delete_index(YamlNode& root, YamlNode& container, std::size_t index);
// Removes the pairs at the given positions (ascending) of a mapping.
EditOutcome delete_pairs(YamlNode& root, YamlNode& mapping, const std::vector<std::size_t>& pairs);

}  // namespace torvex::rt
