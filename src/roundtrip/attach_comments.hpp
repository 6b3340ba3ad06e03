// Second stage of composing: hands the comments the scanner recorded, and the
// blank lines, to the nodes they belong to. Purely positional: a comment
// above a node is its head comment, one after a node on the node's own first
// line is its inline comment, and what is left at the end goes to the last
// root's foot.
#pragma once

#include <cstdint>
#include <vector>

#include "roundtrip/ast.hpp"
#include "roundtrip/line_table.hpp"
#include "scanner/token.hpp"

namespace torvex::rt {

// A node's end as its content suggests it, (line, column), used to place
// inline comments and value padding. A scalar ends where its decoded text
// would end when written from its start (so quotes are not counted); a
// collection at the greatest end among its children, an empty one at its
// start; an alias and a null at their stored end.
struct LineColumn {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    friend bool operator<(const LineColumn& a, const LineColumn& b) noexcept {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    }
};
LineColumn approximate_end(const YamlNode& node);

void attach_comments(std::vector<YamlNode>& roots, const std::vector<CommentRecord>& comments,
                     const LineTable& lines);

}  // namespace torvex::rt
