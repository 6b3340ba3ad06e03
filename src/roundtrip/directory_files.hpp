// What a directory include read, kept with its result so that edits write
// back to the files they belong to. The result of `!include_dir_*` is one
// collection of entries (items, or key and value pairs) gathered from many
// files; the record tells, file by file and document by document, how many
// consecutive entries came from where, and keeps what of a file is not in the
// result (the merged root's own layout, documents a named form ignores).
//
// Entry ranges stay valid as long as the collection keeps its entries: a
// value edited in place belongs to the file its position says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

}  // namespace torvex::rt
