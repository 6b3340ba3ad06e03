#include "roundtrip/save_plan.hpp"

#include <algorithm>
#include <utility>

#include "core/stack_guard.hpp"
#include "directives/file_system.hpp"
#include "roundtrip/directory_files.hpp"
#include "roundtrip/emitter.hpp"
#include "roundtrip/line_breaks.hpp"

namespace torvex::rt {

namespace {

// The file that holds a boundary's content (the end of a chain of forwarding files).
std::optional<std::uint32_t> content_file(const YamlNode& node) noexcept {
    const IncludeSource* content = content_source(node);
    return content ? content->target_file_id : std::nullopt;
}

bool is_boundary(const YamlNode& node) noexcept { return content_file(node).has_value(); }

// Where a file's own content ends: an include boundary or a directory
// result, whose entries are the content of other files.
bool ends_file(const YamlNode& node) noexcept { return is_boundary(node) || is_directory_result(node); }

// A boundary's own flag counts for the including file too: its comments and
// anchor are written there, on the directive's line.
bool modified_in_file_at(const YamlNode& node, std::size_t depth) {
    if (node.comments.modified) return true;
    if (ends_file(node)) return false;
    if (node.children.empty()) return false;
    return with_stack_at(depth, [&] {
        return std::any_of(node.children.begin(), node.children.end(),
                           [&](const YamlNode& child) { return modified_in_file_at(child, depth + 1); });
    });
}

// The content of a boundary's own file changed: its flag, or anything below
// it up to the next boundaries.
bool boundary_file_changed(const YamlNode& boundary) {
    if (boundary.comments.modified) return true;
    return std::any_of(boundary.children.begin(), boundary.children.end(),
                       [](const YamlNode& child) { return modified_in_file_at(child, 1); });
}

// Every include boundary and directory result below and at `node`, parents first.
void collect_ends(const YamlNode& node, std::vector<const YamlNode*>& out, std::size_t depth) {
    if (ends_file(node)) out.push_back(&node);
    if (node.children.empty()) return;
    with_stack_at(depth, [&] {
        for (const YamlNode& child : node.children) collect_ends(child, out, depth + 1);
    });
}

std::vector<const YamlNode*> file_ends(const DocumentContainer& doc) {
    std::vector<const YamlNode*> out;
    for (const YamlNode& root : doc.documents) collect_ends(root, out, 0);
    return out;
}

// One record per target of a directory result, in its order, when `text`
// gives the target's content (the result checked first).
template <class Content>
Result<void> directory_records(const YamlNode& dir, const DocumentContainer& doc, std::vector<WriteRecord>& records,
                               Content text) {
    if (Result<void> checked = check_directory(dir, doc); !checked.ok()) return checked;
    for (const DirectoryTarget& target : directory_targets(dir)) {
        if (std::optional<std::string> content = text(target)) {
            records.push_back(WriteRecord{target.file_id, std::move(*content)});
        }
    }
    return Ok{};
}

// Rendered text in the line-end style its file was read with.
std::string in_file_style(const DocumentContainer& doc, std::uint32_t id, std::string rendered) {
    if (id < doc.file_sources.size() && doc.file_sources[id]) return in_style_of(*doc.file_sources[id], std::move(rendered));
    return rendered;
}

}  // namespace

bool is_modified_in_file(const YamlNode& node) { return modified_in_file_at(node, 0); }

Result<std::vector<WriteRecord>> changed_include_records(const DocumentContainer& doc) {
    std::vector<WriteRecord> records;
    const std::vector<std::string_view> sources = source_texts(doc);
    for (const YamlNode* end : file_ends(doc)) {
        const YamlNode& node = *end;
        if (is_directory_result(node)) {
            Result<void> done = directory_records(node, doc, records, [&](const DirectoryTarget& target) {
                if (!target_modified(node, target, false)) return std::optional<std::string>();
                return std::optional<std::string>(
                    in_file_style(doc, target.file_id, render_target(node, target, doc.prefer_double_quotes, sources)));
            });
            if (!done.ok()) return std::move(done).error();
            continue;
        }
        if (!boundary_file_changed(node)) continue;
        const std::uint32_t id = *content_file(node);
        records.push_back(
            WriteRecord{id, in_file_style(doc, id, render_included_file(node, doc.prefer_double_quotes, sources))});
    }
    return records;
}

Result<std::vector<WriteRecord>> include_records(const DocumentContainer& doc) {
    std::vector<WriteRecord> records;
    const std::vector<std::string_view> sources = source_texts(doc);
    auto as_read = [&](std::uint32_t id) -> const std::optional<std::string>* {
        return id < doc.file_sources.size() && doc.file_sources[id] ? &doc.file_sources[id] : nullptr;
    };
    for (const YamlNode* end : file_ends(doc)) {
        const YamlNode& node = *end;
        // Files on the way that hold only the directive forwarding to the next are kept as read.
        for (const IncludeSource* link = node.source.get(); link && link->forwarded; link = link->forwarded.get()) {
            if (const auto* read = link->target_file_id ? as_read(*link->target_file_id) : nullptr)
                records.push_back(WriteRecord{*link->target_file_id, **read});
        }
        if (is_directory_result(node)) {
            Result<void> done = directory_records(node, doc, records, [&](const DirectoryTarget& target) {
                const auto* read = as_read(target.file_id);
                if (read && !target_modified(node, target, true)) return std::optional<std::string>(**read);
                return std::optional<std::string>(
                    in_file_style(doc, target.file_id, render_target(node, target, doc.prefer_double_quotes, sources)));
            });
            if (!done.ok()) return std::move(done).error();
            continue;
        }
        const std::uint32_t id = *content_file(node);
        const auto* read = as_read(id);
        if (read && !is_modified(node)) {
            records.push_back(WriteRecord{id, **read});
        } else {
            records.push_back(WriteRecord{id, in_file_style(doc, id, render_included_file(node, doc.prefer_double_quotes, sources))});
        }
    }
    return records;
}

bool root_file_modified(const DocumentContainer& doc) {
    // A deleted root leaves no flag behind, only the dropped loaded text.
    if (!doc.keep_source) return true;
    return std::any_of(doc.documents.begin(), doc.documents.end(),
                       [](const YamlNode& root) { return root.comments.modified || is_modified_in_file(root); });
}

std::string conflicting_edits_message(std::string_view path) {
    std::string message = "'";
    message += path;
    message +=
        "' is included more than once with conflicting edits; write-back cannot store two different versions of "
        "one file";
    return message;
}

Result<std::vector<FileText>> files_by_path(const DocumentContainer& doc, std::vector<WriteRecord> records) {
    std::vector<FileText> files;
    std::vector<std::string> keys;  // normalised paths, parallel to `files`
    for (WriteRecord& record : records) {
        if (record.file_id >= doc.file_paths.size()) continue;
        const std::string& path = doc.file_paths[record.file_id];
        std::string key = directives::lexically_absolute(path);
        const auto found = std::find(keys.begin(), keys.end(), key);
        if (found == keys.end()) {
            keys.push_back(std::move(key));
            files.push_back(FileText{path, std::move(record.text)});
            continue;
        }
        if (files[static_cast<std::size_t>(found - keys.begin())].text != record.text) {
            return Error::plain(ErrorKind::DirectiveOther, conflicting_edits_message(path));
        }
    }
    return files;
}

Result<SavePlan> plan_save(const DocumentContainer& doc, const std::optional<std::string>& path) {
    auto records = changed_include_records(doc);
    if (!records.ok()) return std::move(records).error();
    auto includes = files_by_path(doc, std::move(records).value());
    if (!includes.ok()) return std::move(includes).error();
    SavePlan plan;
    plan.files = std::move(includes).value();
    const std::optional<std::string>& root_path = path ? path : doc.origin;
    if (path || root_file_modified(doc)) {
        if (root_path) {
            plan.files.push_back(FileText{*root_path, document_to_yaml(doc)});
        } else {
            plan.root_needs_path = true;
        }
    }
    return plan;
}

}  // namespace torvex::rt
