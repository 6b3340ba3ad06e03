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
#include "decode/key_identity.hpp"
#include "encode/float_text.hpp"
#include "roundtrip/reading.hpp"

namespace torvex::rt {

namespace {

// Scalars and tagged empty nodes resolve as their plain text would; a Null
// node with a tag is the empty plain scalar with that tag.
bool resolvable(const YamlNode& node) noexcept {
    return node.kind == NodeKind::Scalar || (node.kind == NodeKind::Null && !node.tag.empty());
}
bool plain(const YamlNode& node) noexcept {
    return node.kind == NodeKind::Null || node.scalar_style == ScalarStyle::Plain;
}

std::optional<std::string_view> tag_arg(const ReadTag& tag) {
    if (!tag.full) return std::nullopt;
    return std::string_view(*tag.full);
}

// " in PATH" for a node of an included file, nothing for the call's own text.
std::string in_file(const YamlNode& node, std::span<const std::string> file_paths) {
    const std::uint32_t id = node.span.file_id;
    if (id == 0 || id >= file_paths.size()) return {};
    return " in " + file_paths[id];
}

// ---------------------------------------------------------------------------
// 1.1 warnings

void collect_version_warnings(const YamlNode& node, const DocumentReader& reader,
                              std::span<const std::string> file_paths, std::vector<std::string>& out,
                              std::size_t depth) {
    if (resolvable(node)) {
        const ReadTag tag = reader.tag(node);
        if (tag.custom()) return;  // a custom-tagged node is a string whatever its text
        if (auto diff = version_difference(reader.mode(), node.text.str(), plain(node), tag_arg(tag))) {
            out.push_back(version_warning(node.text.str(), *diff, node.span.line, node.span.column) +
                          in_file(node, file_paths));
        }
        return;
    }
    if (node.children.empty()) return;
    with_stack_at(depth, [&] {
        for (const YamlNode& child : node.children)
            collect_version_warnings(child, reader, file_paths, out, depth + 1);
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

void upgrade_node(YamlNode& node, const DocumentReader& reader, std::size_t depth) {
    if (node.kind == NodeKind::Scalar) {
        if (node.scalar_style != ScalarStyle::Plain) return;
        const ReadTag tag = reader.tag(node);
        const std::string_view text = node.text.str();
        const Resolved loaded = resolve(reader.mode(), text, true, tag_arg(tag));
        const Resolved modern = resolve(ResolveMode::Yaml12, text, true, tag_arg(tag));
        if (same_meaning(loaded, modern)) return;
        if (loaded.kind != ResolvedKind::Merge) remember_extent(node);
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
        for (YamlNode& child : node.children) upgrade_node(child, reader, depth + 1);
    });
}

// ---------------------------------------------------------------------------
// Duplicate keys

// Keys are equal when the decoder's value trees of them are: key identity of
// the key as read (aliases expanded, merge keys inside keys applied).
class DuplicateChecker {
public:
    DuplicateChecker(ResolveMode mode, bool stop_at_first, std::span<const std::string> file_paths)
        : mode_(mode), stop_at_first_(stop_at_first), file_paths_(file_paths) {}

    void run(const std::vector<YamlNode>& roots) {
        for (const YamlNode& root : roots) {
            const DocumentReader reader(root, mode_);
            reader_ = &reader;
            walk(root, 0);
            reader_ = nullptr;
            if (error_) return;
        }
    }

    std::optional<Error> error_;
    std::vector<std::string> warnings_;

private:
    void report(const YamlNode& key, const Value& read) {
        const std::string diagnostic = key_diagnostic(read);
        if (stop_at_first_) {
            error_ = Error::at(ErrorKind::DuplicateKey, "duplicate mapping key: " + diagnostic, key.span);
            if (key.span.file_id != 0 && key.span.file_id < file_paths_.size())
                error_->file = file_paths_[key.span.file_id];
            return;
        }
        warnings_.push_back("duplicate mapping key '" + diagnostic + "' at line " +
                            std::to_string(key.span.line + 1UL) + ", column " +
                            std::to_string(key.span.column + 1UL) + in_file(key, file_paths_) +
                            "; keeping the last value");
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
            std::unordered_set<std::string> seen;
            for (std::size_t i = 0; i < node.size(); ++i) {
                const YamlNode& key = node.key(i);
                walk(key, depth + 1);
                if (error_) return;
                walk(node.value(i), depth + 1);
                if (error_) return;
                if (reader_->is_merge_key(key)) continue;
                const Value read = reader_->key_value(key, depth + 1);
                if (!seen.insert(key_identity(read)).second) {
                    report(key, read);
                    if (error_) return;
                }
            }
        });
    }

    ResolveMode mode_;
    bool stop_at_first_;
    std::span<const std::string> file_paths_;
    const DocumentReader* reader_ = nullptr;
};

}  // namespace

std::vector<std::string> version_warnings(const std::vector<YamlNode>& roots, ResolveMode mode,
                                          std::span<const std::string> file_paths) {
    std::vector<std::string> out;
    for (const YamlNode& root : roots)
        collect_version_warnings(root, DocumentReader(root, mode), file_paths, out, 0);
    return out;
}

void upgrade_to_1_2(std::vector<YamlNode>& roots, ResolveMode mode) {
    for (YamlNode& root : roots) upgrade_node(root, DocumentReader(root, mode), 0);
}

Result<void> check_duplicate_keys(const std::vector<YamlNode>& roots, ResolveMode mode,
                                  std::span<const std::string> file_paths) {
    DuplicateChecker checker(mode, true, file_paths);
    checker.run(roots);
    if (checker.error_) return std::move(*checker.error_);
    return Ok{};
}

std::vector<std::string> duplicate_key_warnings(const std::vector<YamlNode>& roots, ResolveMode mode,
                                                std::span<const std::string> file_paths) {
    DuplicateChecker checker(mode, false, file_paths);
    checker.run(roots);
    return std::move(checker.warnings_);
}

}  // namespace torvex::rt
