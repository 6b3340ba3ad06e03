#include "roundtrip/save_plan.hpp"

#include <algorithm>
#include <utility>

#include "core/stack_guard.hpp"
#include "directives/file_system.hpp"
#include "roundtrip/emitter.hpp"

namespace torvex::rt {

namespace {

bool is_boundary(const YamlNode& node) noexcept { return node.source && node.source->target_file_id.has_value(); }

// A boundary's own flag counts for the including file too: its comments and
// anchor are written there, on the directive's line.
bool modified_in_file_at(const YamlNode& node, std::size_t depth) {
    if (node.comments.modified) return true;
    if (is_boundary(node)) return false;
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

// Calls `visit` on every include boundary below and at `node`, parents first.
template <class Visit>
void each_boundary(const YamlNode& node, Visit& visit, std::size_t depth) {
    if (is_boundary(node)) visit(node);
    if (node.children.empty()) return;
    with_stack_at(depth, [&] {
        for (const YamlNode& child : node.children) each_boundary(child, visit, depth + 1);
    });
}

template <class Visit>
void each_boundary(const DocumentContainer& doc, Visit visit) {
    for (const YamlNode& root : doc.documents) each_boundary(root, visit, 0);
}

}  // namespace

bool is_modified_in_file(const YamlNode& node) { return modified_in_file_at(node, 0); }

std::vector<WriteRecord> changed_include_records(const DocumentContainer& doc) {
    std::vector<WriteRecord> records;
    each_boundary(doc, [&](const YamlNode& boundary) {
        if (!boundary_file_changed(boundary)) return;
        records.push_back(WriteRecord{*boundary.source->target_file_id,
                                      render_included_file(boundary, doc.prefer_double_quotes)});
    });
    return records;
}

std::vector<WriteRecord> include_records(const DocumentContainer& doc) {
    std::vector<WriteRecord> records;
    each_boundary(doc, [&](const YamlNode& boundary) {
        const std::uint32_t id = *boundary.source->target_file_id;
        if (id < doc.file_sources.size() && doc.file_sources[id] && !is_modified(boundary)) {
            records.push_back(WriteRecord{id, *doc.file_sources[id]});
        } else {
            records.push_back(WriteRecord{id, render_included_file(boundary, doc.prefer_double_quotes)});
        }
    });
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
    auto includes = files_by_path(doc, changed_include_records(doc));
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
