// Edited files written in place: the file's text as read, with only the text
// of the nodes whose content an edit replaced written anew. Every byte
// outside those nodes (blanks at line ends, blank lines, comments, spacing,
// quoting, explicit keys, line ends) stays as it was, so a one-leaf edit
// changes the lines of that leaf and no others.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "encode/dump_options.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::rt {

// One file's text and the roots read from it.
struct FileInPlace {
    std::string_view text;  // the file as read
    std::uint32_t file_id = 0;
    std::span<const YamlNode* const> roots;
    // The text each file id was read from, for what the tree writer writes
    // of unedited nodes around an edit that cannot be placed.
    std::span<const std::string_view> sources;
    // The single root is an include boundary: its content, not its
    // directive, is the file's (its own comments belong to the including file).
    bool boundary = false;
};

// The file with its edited nodes rewritten in place. An edit this cannot
// place (new or removed entries, a block collection written anew, changed
// comments) has the smallest block collection around it written by the tree
// writer, from its first entry to the end of its last line; nothing when
// even the outermost cannot be. The result is not checked here: callers
// compare how it reads.
std::optional<std::string> write_in_place(const FileInPlace& file, NullStyle null_style, bool prefer_double);

}  // namespace torvex::rt
