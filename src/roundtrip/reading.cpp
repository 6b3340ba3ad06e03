#include "roundtrip/reading.hpp"

#include <unordered_set>
#include <utility>

#include "core/stack_guard.hpp"
#include "decode/key_identity.hpp"
#include "decode/stream_decoder.hpp"
#include "resolver/resolve.hpp"

namespace torvex::rt {

namespace {

constexpr std::string_view kMergeTag = "tag:yaml.org,2002:merge";

bool plain(const YamlNode& node) noexcept {
    return node.kind == NodeKind::Null || node.scalar_style == ScalarStyle::Plain;
}

Value resolved_value(const Resolved& r, std::string_view text) {
    switch (r.kind) {
        case ResolvedKind::Null: return Value::null();
        case ResolvedKind::Bool: return Value::boolean(r.boolean);
        case ResolvedKind::Int: return Value::integer(r.integer);
        case ResolvedKind::BigInt: return Value::big_int(std::string(text));
        case ResolvedKind::Float: return Value::floating(r.floating);
        case ResolvedKind::Str: return Value::string(text);
        case ResolvedKind::Merge: break;
    }
    // A marker, as the decoder leaves it until merge keys are applied.
    return Value::tagged(std::string(kMergeTag), Value::string("<<"));
}

}  // namespace

DocumentReader::DocumentReader(const YamlNode& root, ResolveMode mode) : root_(root), mode_(mode) {
    for (const Text& directive : root.comments.directives()) (void)directives_.apply(directive.str());
}

ReadTag DocumentReader::tag(const YamlNode& node) const {
    ReadTag out;
    if (node.tag.empty()) return out;
    std::string problem;
    // An undefined handle, which the decoder refuses, counts as a custom tag written as is.
    out.full = directives_.resolve_tag(node.tag.str(), problem);
    if (!out.full) out.full = node.tag.string();
    out.core = is_core_tag(node.tag.str(), *out.full);
    return out;
}

Resolved DocumentReader::resolve(const YamlNode& node) const {
    if (node.tag.empty()) {
        if (node.kind == NodeKind::Null) return Resolved{ResolvedKind::Null};
        if (node.scalar_style != ScalarStyle::Plain) return Resolved{ResolvedKind::Str};
        // Most plain scalars (keys, words) are told to be strs by their first byte.
        const std::string_view text = node.text.str();
        if (plain_is_str_at_a_glance(text)) return Resolved{ResolvedKind::Str};
        return torvex::resolve(mode_, text, true, std::nullopt);
    }
    const ReadTag t = tag(node);
    if (!t.core) return Resolved{ResolvedKind::Str};
    return torvex::resolve(mode_, node.text.str(), plain(node), std::string_view(*t.full));
}

const YamlNode* DocumentReader::follow(const YamlNode& node) const {
    if (node.kind != NodeKind::Alias) return &node;
    if (!targets_) targets_.emplace(root_);
    return follow_aliases(&node, *targets_);
}

bool DocumentReader::is_merge_key(const YamlNode& key) const {
    if (key.kind != NodeKind::Scalar) return false;
    // Untagged, only the plain text `<<` can be one.
    if (key.tag.empty() && (key.scalar_style != ScalarStyle::Plain || key.text.str() != "<<")) return false;
    return resolve(key).kind == ResolvedKind::Merge;
}

bool DocumentReader::has_merge_keys(const YamlNode& mapping) const {
    for (std::size_t i = 0; i < mapping.size(); ++i) {
        if (is_merge_key(mapping.key(i))) return true;
    }
    return false;
}

std::string DocumentReader::identity(const ReadEntry& entry) const {
    return key_identity(entry.merge_key ? Value::string("<<") : key_value(*entry.key));
}

std::vector<ReadEntry> DocumentReader::entries(const YamlNode& mapping, std::size_t depth) const {
    std::vector<ReadEntry> kept;
    std::vector<std::size_t> sources;  // pair indices of the merge keys
    for (std::size_t i = 0; i < mapping.size(); ++i) {
        if (is_merge_key(mapping.key(i))) {
            sources.push_back(i);
        } else {
            kept.push_back(ReadEntry{&mapping.key(i), &mapping.value(i), std::nullopt, false});
        }
    }
    if (sources.empty()) return kept;
    std::unordered_set<std::string> keys;
    for (const ReadEntry& entry : kept) keys.insert(identity(entry));
    std::vector<ReadEntry> leftovers;
    auto merge_from = [&](const YamlNode& source) {
        for (ReadEntry& entry : entries(source, depth + 1)) {
            if (keys.insert(identity(entry)).second) kept.push_back(std::move(entry));
        }
    };
    // A mapping that merges: one without a custom tag (a core tag leaves no trace).
    auto mergeable = [&](const YamlNode* node) { return node != nullptr && node->kind == NodeKind::Mapping && !tag(*node).custom(); };
    with_stack_at(depth, [&] {
        for (const std::size_t pair : sources) {
            const YamlNode& key = mapping.key(pair);
            const YamlNode& written = mapping.value(pair);
            const YamlNode* source = follow(written);
            if (source == nullptr) {
                // An alias that names no anchor stays as written, so that
                // converting it fails as the decoder fails on it.
                leftovers.push_back(ReadEntry{&key, &written, std::nullopt, true});
                continue;
            }
            if (mergeable(source)) {
                merge_from(*source);
                continue;
            }
            if (source->kind == NodeKind::Sequence && !tag(*source).custom()) {
                std::vector<const YamlNode*> others;
                for (const YamlNode& item : source->children) {
                    const YamlNode* element = follow(item);
                    if (mergeable(element)) {
                        merge_from(*element);
                    } else {
                        others.push_back(&item);
                    }
                }
                if (!others.empty()) leftovers.push_back(ReadEntry{&key, source, std::move(others), true});
                continue;
            }
            if ((source->kind == NodeKind::Scalar || source->kind == NodeKind::Null) &&
                resolve(*source).kind == ResolvedKind::Null && !tag(*source).custom()) {
                continue;  // merging null merges nothing
            }
            leftovers.push_back(ReadEntry{&key, &written, std::nullopt, true});
        }
    });
    for (ReadEntry& entry : leftovers) kept.push_back(std::move(entry));
    return kept;
}

Value DocumentReader::raw_value(const YamlNode& node, std::size_t depth) const {
    const ReadTag t = tag(node);
    Value v;
    switch (node.kind) {
        case NodeKind::Alias: {
            const YamlNode* target = follow(node);
            return target == nullptr ? Value::null()
                                     : with_stack_at(depth, [&] { return raw_value(*target, depth + 1); });
        }
        case NodeKind::Scalar:
        case NodeKind::Null:
            v = t.custom() ? Value::string(node.text.str()) : resolved_value(resolve(node), node.text.str());
            break;
        case NodeKind::Sequence:
        case NodeKind::Mapping:
            v = with_stack_at(depth, [&] {
                if (node.kind == NodeKind::Sequence) {
                    Sequence items;
                    for (const YamlNode& item : node.children) items.push_back(raw_value(item, depth + 1));
                    return Value::sequence(std::move(items));
                }
                Mapping pairs;
                for (std::size_t i = 0; i < node.size(); ++i) {
                    pairs.push_back(MapEntry{raw_value(node.key(i), depth + 1), raw_value(node.value(i), depth + 1)});
                }
                return Value::mapping(std::move(pairs));
            });
            break;
    }
    if (t.custom()) return Value::tagged(*t.full, std::move(v));
    return v;
}

Value DocumentReader::key_value(const YamlNode& node, std::size_t depth) const {
    Value v = raw_value(node, depth);
    apply_merge_keys(v);  // merge markers inside a key: the decoder applies them there too
    return v;
}

}  // namespace torvex::rt
