// The round-trip emitter's writer: one tree walk appending to one buffer.
// Internal to the emitter; emitter.cpp drives it per document, and the
// block-scalar forms live in block_scalar_writer.cpp.
#pragma once

#include <cstddef>
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
};

class Writer {
public:
    Writer(OutBuffer& out, NullStyle null_style, bool prefer_double) noexcept
        : out_(out), null_style_(null_style), prefer_double_(prefer_double) {}

    // A document root (also a node written as if it were one). `skip_source`
    // writes an include boundary's content instead of its directive;
    // `after_document` tells that an earlier document precedes it.
    void root(const YamlNode& node, bool skip_source, bool after_document);

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

    // Structure.
    void block_mapping(const YamlNode& map, std::size_t indent, bool first_on_line, std::size_t depth);
    void block_sequence(const YamlNode& seq, std::size_t indent, bool first_on_line, std::size_t depth);
    void mapping_value(const YamlNode& value, std::size_t indent, std::size_t depth);
    void sequence_item(const YamlNode& item, std::size_t indent, std::size_t depth);
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
    // Comments of nodes inside the flow collection being written; they go to
    // the end of its line rather than being lost.
    std::vector<const Text*> pending_;
    // The root whose include directive is not written (an included file's own text).
    const YamlNode* unsourced_ = nullptr;
};

// Writes `root` as document `index` of a stream: the byte-order mark it was
// read with before the first, the `---` every later one needs.
void document(Writer& writer, OutBuffer& out, const YamlNode& root, std::size_t index);

}  // namespace torvex::rt::detail
