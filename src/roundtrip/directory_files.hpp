// What a directory include read, kept with its result so that edits write
// back to the files they belong to. The result of `!include_dir_*` is one
// collection of entries (items, or key and value pairs) gathered from many
// files; the record tells, file by file and document by document, how many
// consecutive entries came from where, and keeps what of a file is not in the
// result (the merged root's own layout, documents a named form ignores).
//
// Entry ranges stay valid as long as the collection keeps its entries: a
// value edited in place belongs to the file its position says. Adding or
// removing entries would move every later range, so write-back checks the
// collection first and refuses such edits (check_directory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::rt {

enum class DocumentPlace : std::uint8_t {
    Entry,      // the root is one entry: a list item, or a named form's value after its file's key
    Spread,     // the root's items or pairs are entries; `shell` is the root without them
    Forwarded,  // as Spread, but the root was a directive itself: the entries are another file's content
    Left,       // not in the result (a named form's later document, a merged named form's non-mapping root)
};

struct DirectoryDocument {
    DocumentPlace place = DocumentPlace::Entry;
    std::size_t entries = 0;  // children of the result it gave, in order
    YamlNode shell;           // Spread, Forwarded: the root without its children; Left: the whole root
};

struct DirectoryFile {
    std::uint32_t file_id = 0;
    std::vector<DirectoryDocument> documents;  // in file order; none for an empty file
    std::size_t entries() const noexcept {
        std::size_t total = 0;
        for (const DirectoryDocument& document : documents) total += document.entries;
        return total;
    }
};

struct DirectoryFiles {
    std::vector<DirectoryFile> files;  // in the order read, which is the order of their entries
};

// Whether `node` is the result of a directory include that keeps its record.
bool is_directory_result(const YamlNode& node) noexcept;

// Whether every edit below `dir` (a directory result) has a file to go to:
// its entries still stand where its record puts them (and those a file
// forwarded from a directory include at its root where that one's record
// does), no key that names a file was edited, no entry forwarded by a
// directive that reads no file (a secret) was edited in place. Otherwise a
// DirectiveOther error naming the directive, positioned at it, with the path
// of the file holding it (from `doc`).
Result<void> check_directory(const YamlNode& dir, const DocumentContainer& doc);

// A file that entries of a directory result are written to: a file of the
// directory, or the file that one of them includes at the root of a
// document whose entries were merged (`!include more.yaml` as the whole
// file), which holds those entries. A file that includes a directory at
// such a root forwards that directory's targets, listed after its own.
struct DirectoryTarget {
    std::uint32_t file_id = 0;
    const DirectoryFile* file = nullptr;           // a file of the directory, or
    const DirectoryDocument* forwarded = nullptr;  // the document that included the target
    std::size_t first = 0;                         // index of its first entry among the result's children
};

// Every target of a checked directory result, each file of the directory
// before the files it forwards.
std::vector<DirectoryTarget> directory_targets(const YamlNode& dir);

// Whether entries of `target` changed within their file (the walk stops at
// include boundaries and directory results, whose own flags count); `deep`
// counts changes in the files below them too.
bool target_modified(const YamlNode& dir, const DirectoryTarget& target, bool deep);

// The text of `target`'s file: every document, the entries written from the
// result, the rest as recorded.
std::string render_target(const YamlNode& dir, const DirectoryTarget& target, bool prefer_double_quotes,
                          std::span<const std::string_view> sources = {});

}  // namespace torvex::rt
