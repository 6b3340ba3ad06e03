// Save planning: which files of a round-trip document changed and what each
// of them holds now. `save` writes the changed files (the included files
// whose own content was edited, the root file when root-level content was);
// the include write-back maps give every included file. Both fold the
// records of one file reached at several places into one entry, refusing two
// different contents for it. Writing the files is core/file_write's job.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/result.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::rt {

// True when the node or anything below it within its own file is modified:
// the walk stops at include boundaries and directory results, their content
// being other files; their own flags count (comments and anchor sit on the
// directive's line, in this file).
bool is_modified_in_file(const YamlNode& node);

// One included file's content, produced at one include boundary or for one
// file of a directory result.
struct WriteRecord {
    std::uint32_t file_id = 0;
    std::string text;
};

// Every included file whose own content changed (an include boundary's flag,
// or a key, value or item modified in file), rendered as a standalone file;
// in document order, an including file before the files it includes. An
// edit below a directory result that no file can hold (check_directory) is
// an error.
Result<std::vector<WriteRecord>> changed_include_records(const DocumentContainer& doc);

// Every included file: its text as read while nothing at or below its
// boundary (or among its entries) is modified, otherwise rendered; in
// document order. Errors as changed_include_records.
Result<std::vector<WriteRecord>> include_records(const DocumentContainer& doc);

// True when some root is modified outside every include boundary: the root
// file itself must be written.
bool root_file_modified(const DocumentContainer& doc);

// One file to write: its path as stored in the file table and its content.
struct FileText {
    std::string path;
    std::string text;
};

// The message for one file reached twice with different contents.
std::string conflicting_edits_message(std::string_view path);

// The records as one entry per file, in the order first reached: records of
// file ids outside the file table are skipped, repeats with the same content
// dropped, and a repeat with another content is a DirectiveOther error with
// conflicting_edits_message. Paths are compared component-wise, "." and ".."
// resolved as text.
Result<std::vector<FileText>> files_by_path(const DocumentContainer& doc, std::vector<WriteRecord> records);

// What `save(path)` writes, in order: the changed included files, then the
// root file when a path is given or root-level content changed.
struct SavePlan {
    std::vector<FileText> files;
    // Root-level content changed but there is neither a path nor an origin.
    bool root_needs_path = false;
};
Result<SavePlan> plan_save(const DocumentContainer& doc, const std::optional<std::string>& path);

}  // namespace torvex::rt
