// Pairs removed from a block mapping, or appended to it, written in place:
// a removed pair takes its own lines with it (its key's comment lines
// included) and new pairs are written after the mapping's last line, so the
// rest of the file stays as it was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encode/out_buffer.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::rt {

namespace detail {
class Writer;
}

// Notes, before pair `pair` of `map` is erased, where it stood.
void note_removed_pair(YamlNode& map, std::size_t pair);
// Notes that a pair was appended to `map`.
void note_new_pair(YamlNode& map);

// One stretch of a file's text replaced by new text.
struct Splice {
    std::uint64_t from;
    std::uint64_t to;
    std::string text;
};

// The splices that turn `text` (the file `map` was read from) into the text
// with `map`'s removed pairs gone and its new pairs written at its end (by
// `writer`, which writes into `scratch`); nothing when the edits cannot be
// placed so (the mapping's own comments or properties changed, a pair that
// shares a line with another, new pairs that are not all at the end, ...).
std::optional<std::vector<Splice>> pair_splices(std::string_view text, const YamlNode& map, detail::Writer& writer,
                                                OutBuffer& scratch);

}  // namespace torvex::rt
