#include "roundtrip/path.hpp"

#include <unordered_set>
#include <utility>
#include <vector>

#include "core/stack_guard.hpp"
#include "roundtrip/new_content.hpp"
#include "roundtrip/node_edits.hpp"
#include "roundtrip/pair_edits.hpp"

namespace torvex::rt {

namespace {

template <class Node>
Node* step(Node& node, const PathSegment& segment) noexcept {
    if (segment.is_index) {
        if (node.kind != NodeKind::Sequence || segment.index >= node.children.size()) return nullptr;
        return &node.children[segment.index];
    }
    const std::ptrdiff_t pair = find_segment_pair(node, segment);
    return pair < 0 ? nullptr : &node.value(static_cast<std::size_t>(pair));
}

void append_counted(std::string& out, std::string_view text) {
    out += std::to_string(text.size());
    out += ':';
    out += text;
}

void written_form_into(std::string& out, const YamlNode& node, std::size_t depth) {
    out += static_cast<char>('0' + static_cast<int>(node.kind));
    if (node.kind == NodeKind::Scalar) out += static_cast<char>('0' + static_cast<int>(node.scalar_style));
    append_counted(out, node.tag.str());
    append_counted(out, node.text.str());
    if (node.children.empty()) return;
    out += '[';
    with_stack_at(depth, [&] {
        for (const YamlNode& child : node.children) written_form_into(out, child, depth + 1);
    });
    out += ']';
}

bool find_path(const YamlNode& node, const YamlNode* target, NodePath& path, std::size_t depth) {
    if (&node == target) return true;
    if (!node.is_collection()) return false;
    return with_stack_at(depth, [&] {
        if (node.kind == NodeKind::Sequence) {
            for (std::size_t i = 0; i < node.children.size(); ++i) {
                path.push_back(PathSegment::at(i));
                if (find_path(node.children[i], target, path, depth + 1)) return true;
                path.pop_back();
            }
            return false;
        }
        for (std::size_t i = 0; i < node.size(); ++i) {
            // A pair shadowed by a later one written the same way has no path.
            auto segment = pair_segment(node, i);
            if (!segment) continue;
            path.push_back(std::move(*segment));
            if (find_path(node.value(i), target, path, depth + 1)) return true;
            path.pop_back();
        }
        return false;
    });
}

// Document order, anchors registered once their node is complete. Every
// node of a document is visited once an alias is followed, so the walk keeps
// its own stack (no recursion, no stack probe per collection).
void collect_targets(const YamlNode& root, std::unordered_map<std::string_view, const YamlNode*>& defined,
                     std::unordered_map<const YamlNode*, const YamlNode*>& targets) {
    struct Open {
        const YamlNode* node;
        std::size_t next;  // the child to visit next
    };
    std::vector<Open> open;
    auto leaf = [&](const YamlNode& node) {
        if (node.kind == NodeKind::Alias) {
            const auto found = defined.find(node.text.str());
            if (found != defined.end()) targets.emplace(&node, found->second);
        }
        if (!node.anchor.empty()) defined[node.anchor.str()] = &node;
    };
    if (root.children.empty()) {
        leaf(root);
        return;
    }
    open.push_back({&root, 0});
    while (!open.empty()) {
        Open& top = open.back();
        if (top.next == top.node->children.size()) {
            const YamlNode& done = *top.node;
            open.pop_back();
            if (!done.anchor.empty()) defined[done.anchor.str()] = &done;
            continue;
        }
        const YamlNode& child = top.node->children[top.next++];
        if (child.children.empty()) {
            leaf(child);
        } else {
            open.push_back({&child, 0});
        }
    }
}

}  // namespace

YamlNode* resolve_path(YamlNode& root, const NodePath& path) noexcept {
    YamlNode* node = &root;
    for (const PathSegment& segment : path) {
        node = step(*node, segment);
        if (node == nullptr) return nullptr;
    }
    return node;
}

const YamlNode* resolve_path(const YamlNode& root, const NodePath& path) noexcept {
    return resolve_path(const_cast<YamlNode&>(root), path);
}

YamlNode* resolve_path(DocumentContainer& doc, std::size_t root_index, const NodePath& path) noexcept {
    if (root_index >= doc.documents.size()) return nullptr;
    return resolve_path(doc.documents[root_index], path);
}

std::string written_form(const YamlNode& key) {
    std::string out;
    written_form_into(out, key, 0);
    return out;
}

std::ptrdiff_t find_segment_pair(const YamlNode& mapping, const PathSegment& segment) noexcept {
    if (segment.is_index || mapping.kind != NodeKind::Mapping) return -1;
    if (!segment.written) return mapping.find_pair(segment.key);
    try {
        for (std::size_t i = mapping.size(); i-- > 0;) {
            if (written_form(mapping.key(i)) == segment.key) return static_cast<std::ptrdiff_t>(i);
        }
    } catch (...) {
        // Out of memory while comparing: the pair cannot be found now.
    }
    return -1;
}

std::optional<PathSegment> pair_segment(const YamlNode& mapping, std::size_t pair) {
    const YamlNode& key = mapping.key(pair);
    const auto at = static_cast<std::ptrdiff_t>(pair);
    if (key.kind == NodeKind::Scalar && mapping.find_pair(key.text.str()) == at) {
        return PathSegment::named(key.text.str());
    }
    PathSegment segment = PathSegment::written_as(written_form(key));
    if (find_segment_pair(mapping, segment) != at) return std::nullopt;
    return segment;
}

std::optional<NodePath> path_to(const YamlNode& root, const YamlNode* target) {
    NodePath path;
    if (find_path(root, target, path, 0)) return path;
    return std::nullopt;
}

AliasTargets::AliasTargets(const YamlNode& root) {
    std::unordered_map<std::string_view, const YamlNode*> defined;
    collect_targets(root, defined, targets_);
}

const YamlNode* AliasTargets::target(const YamlNode& alias) const noexcept {
    const auto found = targets_.find(&alias);
    return found == targets_.end() ? nullptr : found->second;
}

const YamlNode* follow_aliases(const YamlNode* node, const AliasTargets& targets) noexcept {
    // Targets come before their aliases in document order, so chains end.
    while (node != nullptr && node->kind == NodeKind::Alias) node = targets.target(*node);
    return node;
}

bool is_merge_key(const YamlNode& key) noexcept {
    return key.kind == NodeKind::Scalar && key.scalar_style == ScalarStyle::Plain && key.tag.empty() &&
           key.text.str() == "<<";
}

const YamlNode* find_merged(const YamlNode& mapping, std::string_view key, const AliasTargets& targets) noexcept {
    if (mapping.kind != NodeKind::Mapping) return nullptr;
    const auto in_source = [&](const YamlNode* source) -> const YamlNode* {
        source = follow_aliases(source, targets);
        if (source == nullptr || source->kind != NodeKind::Mapping) return nullptr;
        const std::ptrdiff_t pair = source->find_pair(key);
        if (pair >= 0) return &source->value(static_cast<std::size_t>(pair));
        return find_merged(*source, key, targets);  // a source may merge in turn
    };
    for (std::size_t i = 0; i < mapping.size(); ++i) {
        if (!is_merge_key(mapping.key(i))) continue;
        const YamlNode* value = follow_aliases(&mapping.value(i), targets);
        if (value == nullptr) continue;
        if (value->kind == NodeKind::Sequence) {
            for (const YamlNode& element : value->children) {
                if (const YamlNode* found = in_source(&element)) return found;
            }
        } else if (const YamlNode* found = in_source(value)) {
            return found;
        }
    }
    return nullptr;
}

bool is_standard_tag(std::string_view tag) noexcept {
    return tag == "!" || tag.starts_with("!!") || tag.starts_with("tag:yaml.org,2002:") ||
           tag.starts_with("!<tag:yaml.org,2002:") || tag == "!<!>";
}

namespace {

void collect_anchored(const YamlNode& node, std::unordered_set<const YamlNode*>& out, std::size_t depth) {
    if (!node.anchor.empty()) out.insert(&node);
    if (node.children.empty()) return;
    with_stack_at(depth, [&] {
        for (const YamlNode& child : node.children) collect_anchored(child, out, depth + 1);
    });
}

// Aliases outside the removed subtrees whose target is in `going`.
void collect_dangling(YamlNode& node, const std::unordered_set<const YamlNode*>& going,
                      const std::unordered_set<const YamlNode*>& removed, const AliasTargets& targets,
                      std::vector<YamlNode*>& out, std::size_t depth) {
    if (removed.count(&node) != 0) return;
    if (node.kind == NodeKind::Alias) {
        const YamlNode* target = targets.target(node);
        if (target != nullptr && going.count(target) != 0) out.push_back(&node);
        return;
    }
    if (node.children.empty()) return;
    with_stack_at(depth, [&] {
        for (YamlNode& child : node.children) collect_dangling(child, going, removed, targets, out, depth + 1);
    });
}

}  // namespace

void detach_aliases_of(YamlNode& root, const std::vector<Doomed>& doomed) {
    std::unordered_set<const YamlNode*> going;
    std::unordered_set<const YamlNode*> removed;
    for (const Doomed& d : doomed) {
        if (d.whole_subtree) {
            collect_anchored(*d.node, going, 0);
            removed.insert(d.node);
        } else if (!d.node->anchor.empty()) {
            going.insert(d.node);
        }
    }
    if (going.empty()) return;
    const AliasTargets targets(root);
    if (targets.empty()) return;
    std::vector<YamlNode*> dangling;
    collect_dangling(root, going, removed, targets, dangling, 0);
    // Every copy is taken from the tree as it is before any alias is replaced.
    std::vector<YamlNode> copies;
    copies.reserve(dangling.size());
    for (YamlNode* alias : dangling) {
        remember_extent(*alias);
        YamlNode copy = detached_copy(*targets.target(*alias), targets);
        copy.comments = alias->comments;  // the alias's place keeps its layout
        copy.comments.modified = true;
        copies.push_back(std::move(copy));
    }
    for (std::size_t i = 0; i < dangling.size(); ++i) *dangling[i] = std::move(copies[i]);
}

void rename_aliases(YamlNode& root, const YamlNode& anchored, std::string_view new_name) {
    const AliasTargets targets(root);
    if (targets.empty()) return;
    std::vector<YamlNode*> aliases;
    collect_dangling(root, {&anchored}, {}, targets, aliases, 0);
    for (YamlNode* alias : aliases) {
        remember_extent(*alias);
        alias->text = Text::owned(new_name);
        alias->comments.modified = true;
    }
}

void write_value(YamlNode& root, YamlNode& node, YamlNode&& content) {
    remember_extent(node);
    if (!node.children.empty()) {
        std::vector<Doomed> doomed;
        for (const YamlNode& child : node.children) doomed.push_back(Doomed{&child, true});
        detach_aliases_of(root, doomed);
    }
    // A block scalar given another multi-line text stays a block scalar (a
    // script under `run: |` should not turn into one escaped line); the
    // emitter quotes what a block cannot hold.
    const bool keeps_block = node.kind == NodeKind::Scalar && content.kind == NodeKind::Scalar &&
                             (node.scalar_style == ScalarStyle::Literal || node.scalar_style == ScalarStyle::Folded) &&
                             content.scalar_style != ScalarStyle::Plain &&
                             content.text.str().find('\n') != std::string_view::npos;
    if (keeps_block) content.scalar_style = node.scalar_style;
    node.kind = content.kind;
    node.scalar_style = content.scalar_style;
    node.style = content.style;
    node.synthetic = content.synthetic;
    node.text = std::move(content.text);
    node.children = std::move(content.children);
    node.span = content.span;
    node.end_offset = content.end_offset;
    node.end_line = content.end_line;
    node.end_column = content.end_column;
    // Where new content stands follows the file (new_content.hpp), not the old node.
    node.comments.indent_hinted = content.comments.indent_hinted;
    node.comments.indent_step = content.comments.indent_step;
    node.source.reset();
    // A block scalar's source text no longer describes the node.
    if (node.comments.has_texts()) node.comments.texts().raw.reset();
    // A core tag would re-type the new content (`!!int` over a string reads
    // as 0); an application's own tag stays, as it marks the node's role.
    // An assigned None drops every tag: a tagged empty node reads as a string.
    if (content.synthetic || is_standard_tag(node.tag.str())) node.tag = Text();
    node.comments.modified = true;
}

EditOutcome assign_key(YamlNode& root, YamlNode& container, std::string_view key, YamlNode&& new_key,
                       YamlNode&& content, bool prefer_double_quotes) {
    if (container.kind == NodeKind::Sequence) return EditOutcome::WrongKeyKind;
    if (container.kind != NodeKind::Mapping) return EditOutcome::NotContainer;
    const std::ptrdiff_t pair = container.find_pair(key);
    if (pair >= 0) {
        YamlNode& replaced = container.value(static_cast<std::size_t>(pair));
        fit_new_content(root, container, &replaced, content, nullptr, prefer_double_quotes);
        write_value(root, replaced, std::move(content));
        return EditOutcome::Done;
    }
    fit_new_content(root, container, nullptr, content, &new_key, prefer_double_quotes);
    append_pair(container, std::move(new_key), std::move(content));
    return EditOutcome::Done;
}

void append_pair(YamlNode& mapping, YamlNode&& key, YamlNode&& content) {
    note_new_pair(mapping);
    content.comments.modified = true;
    key.comments.modified = true;
    mapping.children.push_back(std::move(key));
    mapping.children.push_back(std::move(content));
}

EditOutcome assign_index(YamlNode& root, YamlNode& container, std::size_t index, YamlNode&& content,
                         bool prefer_double_quotes) {
    if (container.kind == NodeKind::Mapping) return EditOutcome::WrongKeyKind;
    if (container.kind != NodeKind::Sequence) return EditOutcome::NotContainer;
    if (index >= container.children.size()) return EditOutcome::IndexOutOfRange;
    fit_new_content(root, container, &container.children[index], content, nullptr, prefer_double_quotes);
    write_value(root, container.children[index], std::move(content));
    return EditOutcome::Done;
}

EditOutcome delete_key(YamlNode& root, YamlNode& container, std::string_view key) {
    if (container.kind == NodeKind::Sequence) return EditOutcome::WrongKeyKind;
    if (container.kind != NodeKind::Mapping) return EditOutcome::NotContainer;
    // Every pair with the key text goes: with only the last removed, an
    // earlier one would take its place when the document is read.
    std::vector<std::size_t> pairs;
    for (std::size_t i = 0; i < container.size(); ++i) {
        const YamlNode& k = container.key(i);
        if (k.kind == NodeKind::Scalar && k.text.str() == key) pairs.push_back(i);
    }
    return delete_pairs(root, container, pairs);
}

EditOutcome delete_pairs(YamlNode& root, YamlNode& mapping, const std::vector<std::size_t>& pairs) {
    if (mapping.kind != NodeKind::Mapping) return EditOutcome::NotContainer;
    if (pairs.empty()) return EditOutcome::KeyMissing;
    std::vector<Doomed> doomed;
    for (const std::size_t i : pairs) {
        doomed.push_back(Doomed{&mapping.key(i), true});
        doomed.push_back(Doomed{&mapping.value(i), true});
    }
    detach_aliases_of(root, doomed);
    for (auto i = pairs.rbegin(); i != pairs.rend(); ++i) {
        note_removed_pair(mapping, *i);
        const auto first = mapping.children.begin() + static_cast<std::ptrdiff_t>(2 * *i);
        mapping.children.erase(first, first + 2);
    }
    mapping.comments.modified = true;
    return EditOutcome::Done;
}

EditOutcome delete_index(YamlNode& root, YamlNode& container, std::size_t index) {
    if (container.kind == NodeKind::Mapping) return EditOutcome::WrongKeyKind;
    if (container.kind != NodeKind::Sequence) return EditOutcome::NotContainer;
    if (index >= container.children.size()) return EditOutcome::IndexOutOfRange;
    detach_aliases_of(root, {Doomed{&container.children[index], true}});
    container.children.erase(container.children.begin() + static_cast<std::ptrdiff_t>(index));
    container.comments.modified = true;
    return EditOutcome::Done;
}

}  // namespace torvex::rt
