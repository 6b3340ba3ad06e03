// The passes loads runs over composed roots: 1.1 warnings, the 1.1-to-1.2
// upgrade, and duplicate keys. Scalars are read as the decoder reads them:
// tags go through the document's %TAG lines (kept on its root), a core tag
// takes part in resolution, any other tag makes the node a tagged string.
#include "roundtrip/passes.hpp"

#include <cmath>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "core/stack_guard.hpp"
#include "decode/document_directives.hpp"
#include "decode/key_identity.hpp"
#include "encode/float_text.hpp"

namespace torvex::rt {

namespace {

// A node's tag as the decoder sees it.
struct NodeTag {
    std::optional<std::string> full;  // the resolved tag; absent when the node has none
    bool core = false;
};

// Resolves the written tags of one document through its %TAG directives.
class TagContext {
public:
    explicit TagContext(const YamlNode& root) {
        for (const Text& directive : root.comments.directives()) (void)directives_.apply(directive.str());
    }

    NodeTag of(const YamlNode& node) const {
        NodeTag out;
        if (node.tag.empty()) return out;
        std::string problem;
        // An undefined handle, which the decoder refuses, counts as a custom tag written as is.
        out.full = directives_.resolve_tag(node.tag.str(), problem);
        if (!out.full) out.full = node.tag.string();
        out.core = is_core_tag(node.tag.str(), *out.full);
        return out;
    }

private:
    DocumentDirectives directives_;
};

// Scalars and tagged empty nodes resolve as their plain text would; a Null
// node with a tag is the empty plain scalar with that tag.
bool resolvable(const YamlNode& node) noexcept {
    return node.kind == NodeKind::Scalar || (node.kind == NodeKind::Null && !node.tag.empty());
}
bool plain(const YamlNode& node) noexcept {
    return node.kind == NodeKind::Null || node.scalar_style == ScalarStyle::Plain;
}

std::optional<std::string_view> tag_arg(const NodeTag& tag) {
    if (!tag.full) return std::nullopt;
    return std::string_view(*tag.full);
}

// ---------------------------------------------------------------------------
// 1.1 warnings

void collect_version_warnings(const YamlNode& node, const TagContext& tags, ResolveMode mode,
                              std::vector<std::string>& out, std::size_t depth) {
    if (resolvable(node)) {
        const NodeTag tag = tags.of(node);
        if (tag.full && !tag.core) return;  // a custom-tagged node is a string whatever its text
        if (auto diff = version_difference(mode, node.text.str(), plain(node), tag_arg(tag))) {
            out.push_back(version_warning(node.text.str(), *diff, node.span.line, node.span.column));
        }
        return;
    }
    if (node.children.empty()) return;
    with_stack_at(depth, [&] {
        for (const YamlNode& child : node.children) collect_version_warnings(child, tags, mode, out, depth + 1);
    });
}

// ---------------------------------------------------------------------------
// The upgrade

bool same_meaning(const Resolved& a, const Resolved& b) noexcept {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case ResolvedKind::Bool: return a.boolean == b.boolean;
        case ResolvedKind::Int: return a.integer == b.integer;
        case ResolvedKind::Float:
            return a.floating == b.floating || (std::isnan(a.floating) && std::isnan(b.floating));
        default: return true;  // null and merge carry nothing; big ints and strings are the same text
    }
}

// The digits of a big integer as YAML 1.2 reads them: no underscores, no `+`.
std::string big_int_digits(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_' || (i == 0 && text[i] == '+')) continue;
        out.push_back(text[i]);
    }
    return out;
}

void upgrade_node(YamlNode& node, const TagContext& tags, ResolveMode mode, std::size_t depth) {
    if (node.kind == NodeKind::Scalar) {
        if (node.scalar_style != ScalarStyle::Plain) return;
        const NodeTag tag = tags.of(node);
        const std::string_view text = node.text.str();
        const Resolved loaded = resolve(mode, text, true, tag_arg(tag));
        const Resolved modern = resolve(ResolveMode::Yaml12, text, true, tag_arg(tag));
        if (same_meaning(loaded, modern)) return;
        switch (loaded.kind) {
            case ResolvedKind::Null: node.text = Text::owned("null"); break;
            case ResolvedKind::Bool: node.text = Text::owned(loaded.boolean ? "true" : "false"); break;
            case ResolvedKind::Int: node.text = Text::owned(std::to_string(loaded.integer)); break;
            case ResolvedKind::BigInt: node.text = Text::owned(big_int_digits(text)); break;
            case ResolvedKind::Float: {
                char buf[kFloatTextMax];
                node.text = Text::owned(std::string_view(buf, yaml_float_text(loaded.floating, buf)));
                break;
            }
            case ResolvedKind::Str:
                // The text stays; written plain it would read as something else
                // under 1.2 (`0o17`), so it is quoted.
                node.scalar_style = ScalarStyle::DoubleQuoted;
                break;
            case ResolvedKind::Merge: return;
        }
        node.comments.modified = true;
        return;
    }
    if (node.children.empty()) return;
    with_stack_at(depth, [&] {
        for (YamlNode& child : node.children) upgrade_node(child, tags, mode, depth + 1);
    });
}

// ---------------------------------------------------------------------------
// Duplicate keys

void append_resolved(std::string& out, const Resolved& r, std::string_view text) {
    switch (r.kind) {
        case ResolvedKind::Null: out += "null"; break;
        case ResolvedKind::Bool: out += r.boolean ? "b:true" : "b:false"; break;
        case ResolvedKind::Int: out += "i:" + std::to_string(r.integer); break;
        case ResolvedKind::BigInt: out += "i:" + big_int_digits(text); break;
        case ResolvedKind::Float: {
            char buf[kFloatTextMax];
            out += "f:";
            out.append(buf, yaml_float_text(r.floating, buf));
            break;
        }
        case ResolvedKind::Str: out += "s:"; out += text; break;
        case ResolvedKind::Merge: out += "merge"; break;
    }
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
    return Value::string("<<");
}

class DuplicateChecker {
public:
    DuplicateChecker(ResolveMode mode, bool stop_at_first) : mode_(mode), stop_at_first_(stop_at_first) {}

    void run(const std::vector<YamlNode>& roots) {
        for (const YamlNode& root : roots) {
            const TagContext tags(root);
            tags_ = &tags;
            walk(root, 0);
            tags_ = nullptr;
            if (error_) return;
        }
    }

    std::optional<Error> error_;
    std::vector<std::string> warnings_;

private:
    bool is_merge_key(const YamlNode& key) const {
        if (key.kind != NodeKind::Scalar) return false;
        const NodeTag tag = tags_->of(key);
        if (tag.full && !tag.core) return false;
        return resolve(mode_, key.text.str(), plain(key), tag_arg(tag)).kind == ResolvedKind::Merge;
    }

    // The canonical text of a key: equal exactly for keys the decoder takes as equal.
    void canonical(const YamlNode& node, std::string& out, std::size_t depth) const {
        const NodeTag tag = tags_->of(node);
        const bool custom = tag.full && !tag.core;
        if (custom) out += "!" + *tag.full + "(";
        switch (node.kind) {
            case NodeKind::Scalar:
            case NodeKind::Null:
                if (custom) {
                    out += "s:";
                    out += node.text.str();
                } else if (node.kind == NodeKind::Null && !tag.full) {
                    out += "null";
                } else {
                    append_resolved(out, resolve(mode_, node.text.str(), plain(node), tag_arg(tag)), node.text.str());
                }
                break;
            case NodeKind::Alias: out += "alias:"; out += node.text.str(); break;
            case NodeKind::Sequence:
            case NodeKind::Mapping: {
                const bool map = node.kind == NodeKind::Mapping;
                out += map ? "map:{" : "seq:[";
                with_stack_at(depth, [&] {
                    // Each item is prefixed by its length, so no text can fake a separator.
                    std::string item;
                    for (std::size_t i = 0; i < node.children.size(); ++i) {
                        item.clear();
                        canonical(node.children[i], item, depth + 1);
                        if (map && i % 2 == 1) out += "=";
                        out += std::to_string(item.size());
                        out += "#";
                        out += item;
                    }
                });
                out += map ? "}" : "]";
                break;
            }
        }
        if (custom) out += ")";
    }

    // The key as the decoder's value tree would hold it, for the message.
    Value key_value(const YamlNode& node, std::size_t depth) const {
        const NodeTag tag = tags_->of(node);
        const bool custom = tag.full && !tag.core;
        Value v;
        switch (node.kind) {
            case NodeKind::Scalar:
            case NodeKind::Null:
                if (custom) {
                    v = Value::string(node.text.str());
                } else if (node.kind == NodeKind::Null && !tag.full) {
                    v = Value::null();
                } else {
                    v = resolved_value(resolve(mode_, node.text.str(), plain(node), tag_arg(tag)), node.text.str());
                }
                break;
            case NodeKind::Alias: {
                std::string name(1, '*');
                name += node.text.str();
                v = Value::string(std::move(name));
                break;
            }
            case NodeKind::Sequence:
            case NodeKind::Mapping:
                v = with_stack_at(depth, [&] {
                    if (node.kind == NodeKind::Sequence) {
                        Sequence items;
                        for (const YamlNode& item : node.children) items.push_back(key_value(item, depth + 1));
                        return Value::sequence(std::move(items));
                    }
                    Mapping entries;
                    for (std::size_t i = 0; i + 1 < node.children.size(); i += 2) {
                        entries.push_back(MapEntry{key_value(node.children[i], depth + 1),
                                                   key_value(node.children[i + 1], depth + 1)});
                    }
                    return Value::mapping(std::move(entries));
                });
                break;
        }
        if (custom) return Value::tagged(*tag.full, std::move(v));
        return v;
    }

    void report(const YamlNode& key) {
        const std::string diagnostic = key_diagnostic(key_value(key, 0));
        if (stop_at_first_) {
            error_ = Error::at(ErrorKind::DuplicateKey, "duplicate mapping key: " + diagnostic, key.span);
            return;
        }
        warnings_.push_back("duplicate mapping key '" + diagnostic + "' at line " +
                            std::to_string(key.span.line + 1UL) + ", column " +
                            std::to_string(key.span.column + 1UL) + "; keeping the last value");
    }

    // Children first, then the key of each pair, as the decoder reports them.
    void walk(const YamlNode& node, std::size_t depth) {
        if (node.children.empty()) return;
        with_stack_at(depth, [&] {
            if (node.kind == NodeKind::Sequence) {
                for (const YamlNode& item : node.children) {
                    walk(item, depth + 1);
                    if (error_) return;
                }
                return;
            }
            const std::size_t pairs = node.size();
            std::vector<std::string> seen;
            seen.reserve(pairs);
            std::unordered_set<std::string_view> index;  // used for larger mappings only
            constexpr std::size_t kLinearScan = 8;
            for (std::size_t i = 0; i < pairs; ++i) {
                const YamlNode& key = node.key(i);
                walk(key, depth + 1);
                if (error_) return;
                walk(node.value(i), depth + 1);
                if (error_) return;
                if (is_merge_key(key)) continue;
                std::string text;
                canonical(key, text, depth + 1);
                bool repeated = false;
                if (pairs <= kLinearScan) {
                    for (const std::string& earlier : seen) repeated = repeated || earlier == text;
                    seen.push_back(std::move(text));
                } else {
                    seen.push_back(std::move(text));  // reserved: views into `seen` stay valid
                    repeated = !index.insert(seen.back()).second;
                }
                if (repeated) {
                    report(key);
                    if (error_) return;
                }
            }
        });
    }

    ResolveMode mode_;
    bool stop_at_first_;
    const TagContext* tags_ = nullptr;
};

}  // namespace

std::vector<std::string> version_warnings(const std::vector<YamlNode>& roots, ResolveMode mode) {
    std::vector<std::string> out;
    for (const YamlNode& root : roots) collect_version_warnings(root, TagContext(root), mode, out, 0);
    return out;
}

void upgrade_to_1_2(std::vector<YamlNode>& roots, ResolveMode mode) {
    for (YamlNode& root : roots) upgrade_node(root, TagContext(root), mode, 0);
}

Result<void> check_duplicate_keys(const std::vector<YamlNode>& roots, ResolveMode mode) {
    DuplicateChecker checker(mode, true);
    checker.run(roots);
    if (checker.error_) return std::move(*checker.error_);
    return Ok{};
}

std::vector<std::string> duplicate_key_warnings(const std::vector<YamlNode>& roots, ResolveMode mode) {
    DuplicateChecker checker(mode, false);
    checker.run(roots);
    return std::move(checker.warnings_);
}

}  // namespace torvex::rt
