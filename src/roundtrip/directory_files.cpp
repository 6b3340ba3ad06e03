#include "roundtrip/directory_files.hpp"

#include <algorithm>
#include <span>

#include "core/stack_guard.hpp"
#include "roundtrip/emitter.hpp"
#include "roundtrip/save_plan.hpp"

namespace torvex::rt {

namespace {

bool is_merge_form(const YamlNode& dir) {
    return content_source(dir)->tag == "!include_dir_merge_list" || content_source(dir)->tag == "!include_dir_merge_named";
}

// What the directive wrote, its file and line, and why its entries cannot be written back.
Error refusal(const YamlNode& dir, const DocumentContainer& doc, const std::string& reason) {
    const std::uint32_t id = dir.span.file_id;
    // The root text's path is a stand-in unless it was loaded from a file.
    std::string path = id == 0 && doc.origin ? *doc.origin : id < doc.file_paths.size() ? doc.file_paths[id] : "";
    Error error = Error::at(ErrorKind::DirectiveOther,
                            "cannot write back '" + content_source(dir)->tag + " " + content_source(dir)->target + "' (" + path +
                                ", line " + std::to_string(dir.span.line + 1UL) + "): " + reason,
                            dir.span);
    error.file = path;
    return error;
}

std::string count_reason(const YamlNode& dir) {
    const bool named = dir.kind == NodeKind::Mapping;
    if (is_merge_form(dir)) {
        return std::string("entries were added to or removed from the ") + (named ? "mapping" : "list") +
               " it merged from the files of the directory; saving cannot tell which file such a change belongs to";
    }
    if (named) {
        return "keys were added to or removed from the mapping it produced; each key stands for a file, and saving "
               "does not create or delete files";
    }
    return "items were added to or removed from the list it produced; each item stands for a document of a file, "
           "and saving does not add or delete documents";
}

// The entries `document` gave, starting at `at` in `entries`.
std::span<const YamlNode> entries_of(std::span<const YamlNode> entries, std::size_t at,
                                     const DirectoryDocument& document) {
    return entries.subspan(at, document.entries);
}

bool forwards_directory(const DirectoryDocument& document) {
    return document.place == DocumentPlace::Forwarded && is_directory_result(document.shell);
}

bool forwards_file(const DirectoryDocument& document) {
    return document.place == DocumentPlace::Forwarded && document.shell.source->target_file_id.has_value();
}

// check_directory for `owner`, a directory result or the shell of one whose
// entries a file forwarded, and `entries`, the entries it gave.
Result<void> check_entries(const YamlNode& owner, std::span<const YamlNode> entries, const DocumentContainer& doc,
                           std::size_t depth) {
    const DirectoryFiles& record = *content_source(owner)->directory;
    std::size_t total = 0;
    for (const DirectoryFile& file : record.files) total += file.entries();
    // Items can only be replaced or removed; pairs can also be appended. A
    // changed count shows either; an appended pair that makes up for a
    // removed one shows in its key (below).
    if (entries.size() != total) return refusal(owner, doc, count_reason(owner));
    return with_stack_at(depth, [&]() -> Result<void> {
        std::size_t at = 0;
        for (const DirectoryFile& file : record.files) {
            for (const DirectoryDocument& document : file.documents) {
                const std::span<const YamlNode> given = entries_of(entries, at, document);
                at += document.entries;
                if (forwards_directory(document)) {
                    if (Result<void> inner = check_entries(document.shell, given, doc, depth + 1); !inner.ok()) {
                        return inner;
                    }
                    continue;
                }
                if (document.place == DocumentPlace::Entry && document.entries == 2) {
                    // A named form's key is the file's name, written nowhere: a
                    // key appended there or a comment set on it has no place.
                    const YamlNode& key = given.front();
                    if (!key.comments.modified) continue;
                    return refusal(owner, doc,
                                   "the key '" + key.text.string() +
                                       "' is the name of a file, not text in one: a key added there or a comment "
                                       "set on it cannot be written back");
                }
                if (document.place == DocumentPlace::Entry || document.place == DocumentPlace::Left) continue;
                if (owner.kind == NodeKind::Mapping) {
                    // Keys are never edited in place; one from another file,
                    // or from none (an appended pair: file id 0, never an
                    // included file's), means that pairs moved.
                    const std::optional<std::uint32_t> holder =
                        document.place == DocumentPlace::Spread ? std::optional<std::uint32_t>(file.file_id)
                                                                : document.shell.source->target_file_id;
                    for (std::size_t key = 0; key < given.size(); key += 2) {
                        const std::uint32_t id = given[key].span.file_id;
                        if (holder ? id != *holder : id == 0) return refusal(owner, doc, count_reason(owner));
                    }
                }
                if (document.place == DocumentPlace::Forwarded && !forwards_file(document) &&
                    std::ranges::any_of(given, [](const YamlNode& entry) { return is_modified_in_file(entry); })) {
                    // A root directive that reads no file of its own (a secret's mapping, say).
                    const std::string path =
                        file.file_id < doc.file_paths.size() ? doc.file_paths[file.file_id] : "";
                    return refusal(owner, doc,
                                   "an entry it merged from '" + path + "' was edited, but that file's root is '" +
                                       document.shell.source->tag + " " + document.shell.source->target +
                                       "', which reads no file that saving could write");
                }
            }
        }
        return Ok{};
    });
}

void collect_targets(const YamlNode& owner, std::size_t first, std::vector<DirectoryTarget>& targets,
                     std::size_t depth) {
    with_stack_at(depth, [&] {
        for (const DirectoryFile& file : content_source(owner)->directory->files) {
            targets.push_back(DirectoryTarget{file.file_id, &file, nullptr, first});
            for (const DirectoryDocument& document : file.documents) {
                if (forwards_file(document)) {
                    targets.push_back(
                        DirectoryTarget{*document.shell.source->target_file_id, nullptr, &document, first});
                } else if (forwards_directory(document)) {
                    collect_targets(document.shell, first, targets, depth + 1);
                }
                first += document.entries;
            }
        }
    });
}

}  // namespace

bool is_directory_result(const YamlNode& node) noexcept {
    const IncludeSource* content = content_source(node);
    return content && content->directory;
}

Result<void> check_directory(const YamlNode& dir, const DocumentContainer& doc) {
    return check_entries(dir, dir.children, doc, 0);
}

std::vector<DirectoryTarget> directory_targets(const YamlNode& dir) {
    std::vector<DirectoryTarget> targets;
    collect_targets(dir, 0, targets, 0);
    return targets;
}

bool target_modified(const YamlNode& dir, const DirectoryTarget& target, bool deep) {
    auto changed = [deep](const YamlNode& entry) { return deep ? is_modified(entry) : is_modified_in_file(entry); };
    if (target.forwarded) {
        return std::ranges::any_of(entries_of(dir.children, target.first, *target.forwarded), changed);
    }
    std::size_t at = target.first;
    for (const DirectoryDocument& document : target.file->documents) {
        const std::span<const YamlNode> entries = entries_of(dir.children, at, document);
        at += document.entries;
        // Forwarded entries are another file's text.
        if (document.place != DocumentPlace::Forwarded && std::ranges::any_of(entries, changed)) return true;
    }
    return false;
}

namespace {

// A merged root put back together: its recorded shell with its entries.
YamlNode rebuilt_root(const DirectoryDocument& document, std::span<const YamlNode> entries) {
    YamlNode root = document.shell.clone_without_children();
    root.children.reserve(entries.size());
    for (const YamlNode& entry : entries) root.children.push_back(entry.clone());
    return root;
}

}  // namespace

std::string render_target(const YamlNode& dir, const DirectoryTarget& target, bool prefer_double_quotes,
                          std::span<const std::string_view> sources) {
    if (target.forwarded) {
        // The file included at the root: written as an include boundary's file is.
        const std::span<const YamlNode> entries = entries_of(dir.children, target.first, *target.forwarded);
        return render_included_file(rebuilt_root(*target.forwarded, entries), prefer_double_quotes, sources);
    }
    const std::vector<DirectoryDocument>& documents = target.file->documents;
    std::vector<YamlNode> rebuilt;
    rebuilt.reserve(documents.size());  // no reallocation: `roots` points into it
    std::vector<const YamlNode*> roots;
    std::size_t at = target.first;
    for (const DirectoryDocument& document : documents) {
        const std::span<const YamlNode> entries = entries_of(dir.children, at, document);
        at += document.entries;
        switch (document.place) {
            case DocumentPlace::Entry: roots.push_back(&entries.back()); break;  // a named form's value after its key
            case DocumentPlace::Spread:
                rebuilt.push_back(rebuilt_root(document, entries));
                roots.push_back(&rebuilt.back());
                break;
            case DocumentPlace::Forwarded:  // written as its directive
            case DocumentPlace::Left: roots.push_back(&document.shell); break;
        }
    }
    return render_file_documents(roots, prefer_double_quotes, sources);
}

}  // namespace torvex::rt
