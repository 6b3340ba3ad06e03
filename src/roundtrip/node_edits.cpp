#include "roundtrip/node_edits.hpp"

#include <utility>

#include "core/stack_guard.hpp"
#include "core/unicode_space.hpp"
#include "core/utf8.hpp"

namespace torvex::rt {

namespace {

// Calls visit(node, path) for every node reachable by path from `node`, in
// document order (sequence items; mapping values under the pair that `find_pair` gives for
// each scalar key text).
template <class Visit>
void each_addressable(const YamlNode& node, NodePath& path, Visit& visit, std::size_t depth) {
    visit(node, path);
    if (!node.is_collection()) return;
    with_stack_at(depth, [&] {
        if (node.kind == NodeKind::Sequence) {
            for (std::size_t i = 0; i < node.children.size(); ++i) {
                path.push_back(PathSegment::at(i));
                each_addressable(node.children[i], path, visit, depth + 1);
                path.pop_back();
            }
            return;
        }
        for (std::size_t i = 0; i < node.size(); ++i) {
            const YamlNode& key = node.key(i);
            if (key.kind != NodeKind::Scalar || node.find_pair(key.text.str()) != static_cast<std::ptrdiff_t>(i)) {
                continue;
            }
            path.push_back(PathSegment::named(key.text.str()));
            each_addressable(node.value(i), path, visit, depth + 1);
            path.pop_back();
        }
    });
}

bool defines_anywhere(const YamlNode& node, std::string_view name, const YamlNode* except, std::size_t depth) {
    if (&node != except && node.anchor.str() == name && !node.anchor.empty()) return true;
    if (node.children.empty()) return false;
    return with_stack_at(depth, [&] {
        for (const YamlNode& child : node.children) {
            if (defines_anywhere(child, name, except, depth + 1)) return true;
        }
        return false;
    });
}

// Position of a segment within its parent: the item index, or the pair index of the key.
std::size_t position_in(const YamlNode& parent, const PathSegment& segment) {
    if (segment.is_index) return segment.index;
    const std::ptrdiff_t pair = find_segment_pair(parent, segment);
    return pair < 0 ? 0 : static_cast<std::size_t>(pair);
}

class DetachCopier {
public:
    explicit DetachCopier(const AliasTargets& targets) : targets_(targets) {}

    YamlNode copy(const YamlNode& node, std::size_t depth) {
        const YamlNode* source = &node;
        if (node.kind == NodeKind::Alias) {
            source = follow_aliases(&node, targets_);
            if (source == nullptr) return node.clone_without_children();  // no target: the alias stays as it is
        }
        if (depth > kDetachMaxDepth || copied_ >= kDetachMaxNodes) {
            YamlNode stop;
            stop.span = source->span;
            stop.end_offset = source->span.offset;
            stop.end_line = source->span.line;
            stop.end_column = source->span.column;
            return stop;
        }
        ++copied_;
        // Anchors stay with the original nodes: a copy redefining them would
        // capture aliases that follow it.
        YamlNode out = source->clone_without_children();
        out.anchor = Text();
        out.explicit_start = false;
        out.leading_bom = false;
        // A copy is not the text it was read from (its anchors are gone, its
        // aliases expanded), nor at that text's place.
        out.comments.modified = true;
        if (out.comments.has_texts()) {
            out.comments.texts().lead.reset();
            out.comments.texts().trail.reset();
        }
        out.children.reserve(source->children.size());
        with_stack_at(depth, [&] {
            for (const YamlNode& child : source->children) out.children.push_back(copy(child, depth + 1));
        });
        return out;
    }

private:
    const AliasTargets& targets_;
    std::size_t copied_ = 0;
};

}  // namespace

std::optional<std::string> inline_comment_problem(std::string_view text) {
    if (text.find_first_of("\r\n") != std::string_view::npos) {
        return std::string("an inline comment cannot contain a line break");
    }
    return std::nullopt;
}

std::optional<std::vector<Text>> head_comment_lines(std::string_view text, std::string& problem) {
    std::vector<Text> lines;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
        if (lf != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
        if (line.find('\r') != std::string_view::npos) {
            problem = "a comment line cannot contain a carriage return";
            return std::nullopt;
        }
        lines.push_back(Text::owned(line));
    }
    return lines;
}

std::optional<std::string> anchor_name_problem(std::string_view name) {
    if (name.empty()) return std::string("anchor name cannot be empty");
    const std::string bad = "anchor name '" + std::string(name) +
                            "' cannot contain white space, line breaks, control characters or any of ,[]{}";
    for (std::size_t i = 0; i < name.size();) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte < 0x21 || byte == 0x7F || byte == ',' || byte == '[' || byte == ']' || byte == '{' || byte == '}') {
            return bad;
        }
        const char32_t c = utf8::decode_at(name, i);
        if (is_unicode_space(c) || (c >= 0x80 && c <= 0x9F) || c == 0xFEFF) return bad;
        i += utf8::sequence_length(byte);
    }
    return std::nullopt;
}

bool anchor_used_elsewhere(const DocumentContainer& doc, std::string_view name, const YamlNode* except) {
    for (const YamlNode& root : doc.documents) {
        if (defines_anywhere(root, name, except, 0)) return true;
    }
    return false;
}

const YamlNode* find_anchor(const YamlNode& root, std::string_view name, NodePath& path) {
    const YamlNode* found = nullptr;
    NodePath walk;
    auto visit = [&](const YamlNode& node, const NodePath& at) {
        if (!node.anchor.empty() && node.anchor.str() == name) {
            found = &node;
            path = at;
        }
    };
    each_addressable(root, walk, visit, 0);
    return found;
}

std::vector<NodePath> alias_paths(const YamlNode& root, std::string_view name) {
    std::vector<NodePath> out;
    NodePath walk;
    auto visit = [&](const YamlNode& node, const NodePath& at) {
        if (node.kind == NodeKind::Alias && node.text.str() == name) out.push_back(at);
    };
    each_addressable(root, walk, visit, 0);
    return out;
}

int compare_paths(const YamlNode& root, const NodePath& a, const NodePath& b, bool& ancestor) {
    ancestor = false;
    const YamlNode* parent = &root;
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const std::size_t pa = position_in(*parent, a[i]);
        const std::size_t pb = position_in(*parent, b[i]);
        if (pa != pb || a[i].is_index != b[i].is_index) return pa < pb ? -1 : 1;
        parent = resolve_path(*parent, NodePath{a[i]});
        if (parent == nullptr) return 0;
    }
    ancestor = true;
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

YamlNode detached_copy(const YamlNode& target, const AliasTargets& targets) {
    DetachCopier copier(targets);
    YamlNode out = copier.copy(target, 0);
    out.comments.modified = true;
    return out;
}

}  // namespace torvex::rt
