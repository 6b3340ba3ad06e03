// The round-trip emitter's writer: one tree walk appending to one buffer.
// Internal to the emitter; emitter.cpp drives it per document, and the
// block-scalar forms live in block_scalar_writer.cpp.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "encode/out_buffer.hpp"
#include "roundtrip/ast.hpp"

namespace torvex::rt::detail {

// Where a node stands; decides how an empty (Null) node is written.
enum class Position : std::uint8_t { Root, MapValue, SeqItem, Key, Flow };

// Columns for a block scalar written here: its content column, and the
// indentation of the node it belongs to, which an explicit indentation
// indicator counts from and which content must stay deeper than (0 for a
// document root: readers take a root's indicator from column 0, and content
// at column 0 reads only on the `---` line itself).
struct BlockPlace {
    std::size_t content = 2;
    long parent = 0;
    // The parent stands at its source column, so an indentation indicator
    // in the scalar's source text still counts from the same place.
    bool parent_as_read = true;
};

// What `emit` writes with source text copied (its argument true), unless
// that reads differently from what it writes afresh (false): then the latter.
// `emit` reports whether it copied any source text; when it did not, its
// text is the fresh one and is not written again.
// `placed`, when given, is the same output written in place (in_place.hpp):
// it is taken first when it reads as the fresh text does, and `took_placed`
// then set.
std::string checked_emission(const std::function<std::string(bool copy, bool& copied)>& emit,
                             std::optional<std::string> placed = std::nullopt, bool* took_placed = nullptr);

class Writer {
public:
    // `sources`: the text each file id was read from, where known (empty
    // views elsewhere); unedited nodes are written from it.
    // `copy`: false writes every node afresh, nothing copied from the source.
    Writer(OutBuffer& out, NullStyle null_style, bool prefer_double,
           std::span<const std::string_view> sources = {}, bool copy = true) noexcept
        : out_(out), null_style_(null_style), prefer_double_(prefer_double), sources_(sources), copy_(copy) {}

    // A document root (also a node written as if it were one). `skip_source`
    // writes an include boundary's content instead of its directive;
    // `after_document` tells that an earlier document precedes it.
    void root(const YamlNode& node, bool skip_source, bool after_document);

    // One node in its inline form as written at `pos` (a scalar, alias, null
    // or flow collection), with no comment and no line end; without
    // `with_properties` its tag and anchor are left out.
    void inline_node(const YamlNode& n, Position pos, bool with_properties);

    // A non-empty block collection from its first entry on, at its source
    // column, the first entry's line already begun (its indentation, and
    // the comments and blank lines above it, written as read).
    void block_collection_here(const YamlNode& n);

    // A mapping value from right after its key's `:` to the end of its last
    // line, the mapping's entries standing at column `indent`.
    void mapping_value_here(const YamlNode& value, std::size_t indent);

    // A block scalar's content lines (its text without the final line
    // breaks), each at `column` and ending with a line feed; folded text
    // gets the empty lines that keep its line breaks.
    void block_lines(std::string_view body, bool folded, std::size_t column);

    // The pairs of a block mapping at `indent`, each on lines of its own
    // (new pairs written into a file's text in place).
    void mapping_lines(const YamlNode& map, std::size_t indent) { block_mapping(map, indent, false, 0); }

    // Whether source text is copied (a root's lead, with its markers, among it).
    bool copies() const noexcept { return copy_; }
    // Whether any source text was copied so far: without it, the output is
    // what the writer writes with copying off.
    bool copied() const noexcept { return copied_; }

private:
    // Layout pieces.
    void comment_line(std::size_t indent, std::string_view text);
    void head_comments(const YamlNode& node, std::size_t indent);
    void blank_lines(std::uint32_t count);
    void inline_comment(std::uint32_t spaces, std::string_view text);
    void comment_tail(const YamlNode* node);
    void line_end(const YamlNode* node);
    void gather_flow_comments(const YamlNode& node);
    bool properties(const YamlNode& node);
    void suffix_properties(const YamlNode& node);
    void directive(const YamlNode& node);
    // The node's source lines above it (head comments, blank lines, document
    // markers) as read, when they still describe it; false when not written.
    bool lead(const YamlNode& node);
    bool trail(const YamlNode& node);
    // Writes an unedited scalar, alias or flow collection as its source text
    // (properties included); false when that text is unknown or would not
    // read the same here.
    bool as_read(const YamlNode& node, bool one_line);
    // The column a block collection's entries take: its source column while
    // that is valid below a parent at `parent_indent` (deeper, or the same for
    // a sequence under a mapping key when `same_allowed`), else `fallback`.
    std::size_t block_column(const YamlNode& node, std::size_t parent_indent, bool same_allowed,
                             std::size_t fallback) const noexcept;
    std::size_t output_column() const noexcept;

    // Structure.
    void block_mapping(const YamlNode& map, std::size_t indent, bool first_on_line, std::size_t depth);
    void block_sequence(const YamlNode& seq, std::size_t indent, bool first_on_line, std::size_t depth);
    void mapping_value(const YamlNode& value, std::size_t indent, bool parent_as_read, std::size_t depth);
    void sequence_item(const YamlNode& item, std::size_t indent, bool parent_as_read, std::size_t depth);
    // The column of a value or item read on a line of its own: its source
    // column while deeper than `indent`, else `fallback`.
    static std::size_t own_line_column(const YamlNode& node, std::size_t indent, std::size_t fallback) noexcept {
        if (!placed(node)) return fallback;
        std::size_t column = node.span.column;
        if (const std::optional<Span> props = node.comments.properties(); props && props->offset < node.span.offset)
            column = props->column;
        return column > indent ? column : fallback;
    }
    void complex_key(const YamlNode& key, std::size_t indent, std::size_t depth);
    void node(const YamlNode& node, Position pos, BlockPlace place, std::size_t depth);
    void flow_sequence(const YamlNode& seq, std::size_t depth);
    void flow_mapping(const YamlNode& map, std::size_t depth);

    // Scalars.
    void scalar(const YamlNode& node, Position pos, BlockPlace place);
    void double_quoted(std::string_view text);
    void single_quoted(std::string_view text);
    bool raw_block_scalar(const YamlNode& node, BlockPlace place);  // block_scalar_writer.cpp
    void block_scalar(const YamlNode& node, BlockPlace place);      // block_scalar_writer.cpp

    bool sourced(const YamlNode& node) const noexcept { return node.source && &node != unsourced_; }
    // A node that stands where it was read (new values have no position).
    static bool placed(const YamlNode& node) noexcept { return node.end_offset > 0 || node.span.offset > 0; }
    bool non_empty_block(const YamlNode& node) const noexcept {
        return node.is_collection() && node.style == CollectionStyle::Block && !node.children.empty() && !sourced(node);
    }

    enum class NullForm : std::uint8_t { Nothing, PropertiesOnly, Word };
    NullForm null_form(const YamlNode& node, Position pos) const noexcept;

    OutBuffer& out_;
    NullStyle null_style_;
    bool prefer_double_;
    // The last thing written was a keep-chomped block scalar: blank lines
    // written now would join its content.
    bool keep_tail_ = false;
    // That scalar was written as read, with the blank lines it was read with.
    bool tail_as_read_ = false;
    // The last thing written was a block scalar written afresh: source lines
    // after it (comments, lines of spaces) could be deeper than its new
    // content column and would join its content, so they are not copied.
    bool fresh_block_ = false;
    // Inside an implicit key, block or flow: nothing may be written as read
    // across lines, since such a key must stay on one line.
    bool one_line_ = false;
    // Comments of nodes inside the flow collection being written; they go to
    // the end of its line rather than being lost.
    std::vector<const Text*> pending_;
    // The root whose include directive is not written (an included file's own text).
    const YamlNode* unsourced_ = nullptr;
    std::span<const std::string_view> sources_;
    bool copy_;
    bool copied_ = false;
};

// Writes `root` as document `index` of a stream: the byte-order mark it was
// read with before the first, the `---` every later one needs.
void document(Writer& writer, OutBuffer& out, const YamlNode& root, std::size_t index);

// Whether a root's source lines above it (its `---` and what precedes it) are written as read.
bool lead_is_current(const YamlNode& node) noexcept;

}  // namespace torvex::rt::detail
