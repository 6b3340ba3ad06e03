#include "schema/instance.hpp"

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "core/stack_guard.hpp"
#include "decode/document_directives.hpp"

namespace torvex::schema {

namespace {

using rt::NodeKind;
using rt::YamlNode;

// One member of a mapping after merge keys: key and value nodes (either may
// be an alias) and the alias depth their copies start at.
struct Member {
    const YamlNode* key;
    const YamlNode* value;
    std::uint32_t depth;
};

// A node reached through any aliases: the node to copy (null when expansion
// was refused or the anchor is missing) and the alias depth of its copy.
struct Target {
    const YamlNode* node;
    std::uint32_t depth;
};

class Builder {
public:
    Builder(const YamlNode& root, ResolveMode mode, InstanceTree& out) : mode_(mode), out_(out) {
        for (const rt::Text& directive : root.comments.directives()) (void)directives_.apply(directive.str());
    }

    void run(const YamlNode& root) {
        out_.nodes.emplace_back();
        fill(0, root, 0, 0);
    }

private:
    // The anchored node an alias names. Aliases of the source tree resolve
    // against the anchors defined before them; an alias inside a copy is the
    // same alias node met earlier in the source walk, so it keeps the target
    // found then.
    const YamlNode* lookup(const YamlNode& alias, std::uint32_t depth) {
        if (depth > 0) {
            if (auto it = alias_targets_.find(&alias); it != alias_targets_.end()) return it->second;
        }
        auto it = anchors_.find(alias.text.str());
        const YamlNode* target = it == anchors_.end() ? nullptr : it->second;
        if (depth == 0) alias_targets_[&alias] = target;
        return target;
    }

    Target follow(const YamlNode& node, std::uint32_t depth) {
        const YamlNode* current = &node;
        while (current->kind == NodeKind::Alias) {
            const YamlNode* target = lookup(*current, depth);
            if (target == nullptr || depth >= kMaxAliasDepth || out_.copied >= kMaxCopiedNodes) return {nullptr, depth};
            current = target;
            ++depth;
        }
        return {current, depth};
    }

    Resolved resolve_node(const YamlNode& n) const {
        const std::string_view text = n.kind == NodeKind::Scalar ? n.text.str() : std::string_view();
        const bool plain = n.kind != NodeKind::Scalar || n.scalar_style == ScalarStyle::Plain;
        if (n.tag.empty()) return resolve(mode_, text, plain, std::nullopt);
        std::string problem;
        std::optional<std::string> full = directives_.resolve_tag(n.tag.str(), problem);
        if (!full) full = n.tag.string();  // an undefined handle: a custom tag as written
        if (!is_core_tag(n.tag.str(), *full)) return Resolved{ResolvedKind::Str};
        return resolve(mode_, text, plain, std::string_view(*full));
    }

    void set_scalar(Instance& inst, const YamlNode& n) const {
        inst.scalar = true;
        inst.text = n.kind == NodeKind::Scalar ? n.text.str() : std::string_view();
        const Resolved r = resolve_node(n);
        switch (r.kind) {
            case ResolvedKind::Null: inst.type = InstanceType::Null; break;
            case ResolvedKind::Bool:
                inst.type = InstanceType::Boolean;
                inst.boolean = r.boolean;
                break;
            case ResolvedKind::Int:
                inst.type = InstanceType::Integer;
                inst.integer = r.integer;
                inst.number = static_cast<double>(r.integer);
                break;
            case ResolvedKind::BigInt:
                inst.type = InstanceType::Integer;
                inst.big = true;
                break;
            case ResolvedKind::Float:
                inst.type = InstanceType::Number;
                inst.number = r.floating;
                break;
            case ResolvedKind::Str:
            case ResolvedKind::Merge: inst.type = InstanceType::String; break;
        }
    }

    // What decides whether two scalar keys are the same key (the merged
    // entry that an explicit key overrides): kind and text.
    std::optional<std::string> key_identity(const YamlNode& key, std::uint32_t depth) {
        const Target t = follow(key, depth);
        if (t.node == nullptr) return std::string(1, '\0');
        if (t.node->is_collection()) return std::nullopt;  // never equal to another key
        Instance probe;
        set_scalar(probe, *t.node);
        std::string id(1, static_cast<char>('A' + static_cast<int>(probe.type)));
        id += probe.text;
        return id;
    }

    bool is_merge_key(const YamlNode& key) const {
        return (key.kind == NodeKind::Scalar || key.kind == NodeKind::Null) &&
               resolve_node(key).kind == ResolvedKind::Merge;
    }

    bool reads_as_null(const YamlNode& n) const {
        return (n.kind == NodeKind::Scalar || n.kind == NodeKind::Null) && resolve_node(n).kind == ResolvedKind::Null;
    }

    void register_anchor(const YamlNode& n) {
        if (!n.anchor.empty()) anchors_[n.anchor.str()] = &n;
    }

    // The members of a mapping with its merge keys applied as the decoder
    // applies them: explicit keys first and winning wherever they stand,
    // then merged entries not yet present, earlier sources winning, then
    // merge values that were no mappings, under the key `<<`.
    void collect(const YamlNode& map, std::uint32_t depth, std::vector<Member>& out, std::size_t level) {
        bool has_merge = false;
        for (std::size_t i = 0; i < map.size(); ++i) {
            if (is_merge_key(map.key(i))) {
                has_merge = true;
                break;
            }
        }
        if (!has_merge) {
            for (std::size_t i = 0; i < map.size(); ++i) out.push_back({&map.key(i), &map.value(i), depth});
            return;
        }
        std::unordered_set<std::string> seen;
        std::vector<Member> leftovers;
        for (std::size_t i = 0; i < map.size(); ++i) {
            if (is_merge_key(map.key(i))) continue;
            out.push_back({&map.key(i), &map.value(i), depth});
            if (auto id = key_identity(map.key(i), depth)) seen.insert(std::move(*id));
        }
        auto merge_from = [&](const Target& source) {
            std::vector<Member> merged;
            with_stack_at(level, [&] { collect(*source.node, source.depth, merged, level + 1); });
            for (const Member& m : merged) {
                auto id = key_identity(*m.key, m.depth);
                if (!id || seen.insert(std::move(*id)).second) out.push_back(m);
            }
        };
        for (std::size_t i = 0; i < map.size(); ++i) {
            if (!is_merge_key(map.key(i))) continue;
            const Target source = follow(map.value(i), depth);
            if (source.node == nullptr || reads_as_null(*source.node)) continue;
            if (source.depth == 0) register_anchor(*source.node);
            if (source.node->kind == NodeKind::Mapping) {
                merge_from(source);
            } else if (source.node->kind == NodeKind::Sequence) {
                bool others = false;
                for (const YamlNode& element : source.node->children) {
                    const Target e = follow(element, source.depth);
                    if (e.node != nullptr && e.node->kind == NodeKind::Mapping) {
                        merge_from(e);
                    } else {
                        others = true;
                    }
                }
                if (others) leftovers.push_back({&map.key(i), &map.value(i), depth});
            } else {
                leftovers.push_back({&map.key(i), &map.value(i), depth});
            }
        }
        for (const Member& m : leftovers) out.push_back(m);
    }

    // Fills slot `slot` from `node` (the top of a copy when it is an alias).
    void fill(std::uint32_t slot, const YamlNode& node, std::uint32_t depth, std::size_t level) {
        const Target t = follow(node, depth);
        if (t.depth > 0) ++out_.copied;
        out_.nodes[slot].span = &node.span;
        const YamlNode* n = t.node;
        if (n == nullptr) {
            out_.nodes[slot].scalar = true;
            return;  // null
        }
        if (n->kind == NodeKind::Sequence) {
            const auto first = static_cast<std::uint32_t>(out_.nodes.size());
            const auto count = static_cast<std::uint32_t>(n->children.size());
            out_.nodes[slot].type = InstanceType::Array;
            out_.nodes[slot].first = first;
            out_.nodes[slot].count = count;
            out_.nodes.resize(out_.nodes.size() + count);
            with_stack_at(level, [&] {
                for (std::uint32_t i = 0; i < count; ++i) fill(first + i, n->children[i], t.depth, level + 1);
            });
        } else if (n->kind == NodeKind::Mapping) {
            std::vector<Member> members;
            members.reserve(n->size());
            collect(*n, t.depth, members, level);
            const auto first = static_cast<std::uint32_t>(out_.nodes.size());
            const auto count = static_cast<std::uint32_t>(members.size());
            out_.nodes[slot].type = InstanceType::Object;
            out_.nodes[slot].first = first;
            out_.nodes[slot].count = count;
            out_.nodes.resize(out_.nodes.size() + 2 * std::size_t{count});
            with_stack_at(level, [&] {
                for (std::uint32_t i = 0; i < count; ++i) {
                    fill(first + 2 * i, *members[i].key, members[i].depth, level + 1);
                    fill(first + 2 * i + 1, *members[i].value, members[i].depth, level + 1);
                }
            });
        } else {
            set_scalar(out_.nodes[slot], *n);
        }
        if (t.depth == 0) register_anchor(*n);
    }

    ResolveMode mode_;
    InstanceTree& out_;
    DocumentDirectives directives_;
    std::unordered_map<std::string_view, const YamlNode*> anchors_;
    std::unordered_map<const YamlNode*, const YamlNode*> alias_targets_;
};

// Builds from a tape: a collection's items or entries follow it, each
// subtree spanning a known number of nodes.
class TapeBuilder {
public:
    TapeBuilder(const Tape& tape, InstanceTree& out) : tape_(tape), out_(out) {}

    bool fill(std::uint32_t slot, std::size_t at, std::size_t level) {
        while (tape_.nodes[at].kind() == TapeNode::Kind::Tagged) ++at;  // a custom tag: its content counts
        const TapeNode& node = tape_.nodes[at];
        Instance& inst = out_.nodes[slot];
        inst.span = &kNowhere;
        switch (node.kind()) {
            case TapeNode::Kind::Null: inst.scalar = true; return true;
            case TapeNode::Kind::Bool:
                inst.scalar = true;
                inst.type = InstanceType::Boolean;
                inst.boolean = node.integer != 0;
                return true;
            case TapeNode::Kind::Int:
                inst.scalar = true;
                inst.type = InstanceType::Integer;
                inst.integer = node.integer;
                inst.number = static_cast<double>(node.integer);
                return true;
            case TapeNode::Kind::BigInt:
                inst.scalar = true;
                inst.type = InstanceType::Integer;
                inst.big = true;
                inst.text = node.text_view();
                return true;
            case TapeNode::Kind::Float:
                inst.scalar = true;
                inst.type = InstanceType::Number;
                inst.number = node.floating;
                return true;
            case TapeNode::Kind::String:
                inst.scalar = true;
                inst.type = InstanceType::String;
                inst.text = node.text_view();
                return true;
            case TapeNode::Kind::Sequence:
            case TapeNode::Kind::Mapping: break;
            case TapeNode::Kind::Tagged: return false;
        }
        const bool mapping = node.kind() == TapeNode::Kind::Mapping;
        const auto count = static_cast<std::uint32_t>(node.size());
        const auto first = static_cast<std::uint32_t>(out_.nodes.size());
        inst.type = mapping ? InstanceType::Object : InstanceType::Array;
        inst.first = first;
        inst.count = count;
        out_.nodes.resize(out_.nodes.size() + (mapping ? 2 * std::size_t{count} : count));
        return with_stack_at(level, [&] {
            std::size_t child = at + 1;
            const std::uint32_t slots = mapping ? 2 * count : count;
            for (std::uint32_t i = 0; i < slots; ++i) {
                if (!fill(first + i, child, level + 1)) return false;
                if (mapping && i % 2 == 0 && out_.nodes[first + i].type != InstanceType::String) return false;
                child = tape_.end_of(child);
            }
            return true;
        });
    }

private:
    static constexpr Span kNowhere{};
    const Tape& tape_;
    InstanceTree& out_;
};

}  // namespace

std::optional<InstanceTree> build_instance_tree(const Tape& tape, std::size_t root) {
    InstanceTree out;
    out.nodes.reserve(tape.end_of(root) - root);  // one instance per tape node, tags aside
    out.nodes.emplace_back();
    TapeBuilder builder(tape, out);
    if (!builder.fill(0, root, 0)) return std::nullopt;
    return out;
}

InstanceTree build_instance_tree(const rt::YamlNode& root, ResolveMode mode) {
    InstanceTree out;
    Builder builder(root, mode, out);
    builder.run(root);
    return out;
}

}  // namespace torvex::schema
