// The round-trip tree: what a document keeps so that it can be written back
// close to its source (scalar text and style, block or flow layout, anchors,
// tags, comments, blank lines, spacing, exact extents) and where each node
// came from (file id in every span, the directive that produced a node).
//
// Nodes own their children in one vector per collection (a mapping keeps its
// keys and values interleaved), so siblings are contiguous. Texts are views
// into the bytes the document keeps until an edit gives a node its own copy.
// Layout details that most nodes lack (comments, raw block-scalar text,
// directive lines) live in one optional record, so a bare node stays small.
//
// Trees can be nested far deeper than the native stack allows: cloning and
// every walk go through the stack guard, and destruction is iterative.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/scalar_style.hpp"
#include "core/span.hpp"
#include "encode/dump_options.hpp"
#include "roundtrip/node_memory.hpp"
#include "roundtrip/text.hpp"
#include "scanner/token.hpp"

namespace torvex::rt {

enum class NodeKind : std::uint8_t { Scalar, Sequence, Mapping, Alias, Null };
enum class CollectionStyle : std::uint8_t { Block, Flow };

// Where an edited node stood in its file before an edit replaced its
// content, and which comments it had then: the file's text around it is
// still what it was, so the new content can be written in that place alone.
struct ReplacedExtent {
    std::uint32_t file_id = 0;
    std::uint64_t from = 0;     // the node's first byte: its properties, else its content
    std::uint64_t content = 0;  // its content's first byte
    std::uint64_t to = 0;       // just past its last byte
    bool block_scalar = false;  // it was a literal or folded scalar
    std::int32_t block_column = -1;  // that scalar's content column (-1: it had no content line)
    bool block = false;         // it was a non-empty block collection
    // Its comments then, by identity (an edit gives a comment a text of its own).
    const char* inline_at = nullptr;
    const char* head_at = nullptr;
    std::size_t head_count = 0;
};

// A pair an edit removed from a block mapping, by where it stood.
struct RemovedPair {
    std::uint64_t key = 0;          // the key's first byte
    std::uint64_t end = 0;          // just past the value's last byte
    std::uint64_t next_key = 0;     // the first byte of the key after it (0: it was the last pair)
    const char* head_at = nullptr;  // the key's first head comment, by identity
};

// A block mapping read from a file that lost pairs, or gained pairs at its
// end, through edits: what it lost, and its own comments and properties when
// the first such edit was made (by identity), so that the file's text can be
// kept around the pairs that changed.
struct PairEdits {
    std::uint32_t file_id = 0;
    std::vector<RemovedPair> removed;
    const char* inline_at = nullptr;
    const char* head_at = nullptr;
    std::size_t head_count = 0;
    const char* anchor_at = nullptr;
    const char* tag_at = nullptr;
};

// Comment and layout texts; allocated only for nodes that have any.
struct CommentTexts {
    std::vector<Text> head;               // standalone comment lines above the node
    std::optional<Text> inline_comment;   // the comment trailing the node on its line
    std::vector<Text> foot;               // comment lines after the node (last root only)
    std::optional<Text> raw;              // exact source of a Literal/Folded scalar
    std::vector<Text> directives;         // document roots: the `%` lines before them, without the `%`
    std::optional<Span> properties;       // where the node's first property (`&anchor`, `!tag`) stands
    // The source lines above the node (from the line after the previous
    // content up to the node's first line; for a document root up to its
    // first byte, so `---`, `...`, directive lines and the comments between
    // documents come along), kept where they hold comments, markers, or
    // blank lines that are not empty. Written as they are while the head
    // comments are the `lead_comments` texts read from them.
    std::optional<Text> lead;
    std::uint32_t lead_comments = 0;
    // Last root: everything after its content to the end of the text
    // (blank lines, comments, `...`).
    std::optional<Text> trail;
    bool ends_without_break = false;  // last root: the text ends without a line break
    // An edited node: where its first replaced content stood (edits after
    // the first keep it).
    std::optional<ReplacedExtent> replaced;
    // A block mapping whose pairs edits removed or appended.
    std::optional<PairEdits> pair_edits;

    bool empty() const noexcept {
        return head.empty() && !inline_comment && foot.empty() && !raw && directives.empty() && !properties &&
               !lead && !trail && !replaced && !pair_edits;
    }
};

struct Comments {
    std::uint32_t blank_before = 0;  // blank lines before the head comments
    std::uint32_t inline_spaces = 0; // spaces before the inline `#`; 0 is written as 1
    std::uint32_t value_pad = 0;     // spaces after `:` or `-`; 0 is written as 1
    bool compact : 1 = false;        // `- - a`: a block sequence entry opened on its parent's `-` line
    bool modified : 1 = false;       // changed by an edit since loading
    bool own_line : 1 = false;       // a value or item starting on the line after its `:` or `-`
    bool key_line_comment : 1 = false;  // own-line value: its inline comment stands after the `key:`
    // A new block collection under a key: `indent_step` columns past the key,
    // as the file indents its own (set when the content was assigned).
    bool indent_hinted : 1 = false;
    std::uint8_t colon_pad = 0;      // a key: spaces between it and its `:` (saturating)
    std::uint8_t indent_step = 0;

    Comments() = default;
    Comments(const Comments& other);
    Comments& operator=(const Comments& other);
    Comments(Comments&&) noexcept = default;
    Comments& operator=(Comments&&) noexcept = default;

    // Read access; empty lists and absent texts when the node has none.
    const std::vector<Text>& head() const noexcept;
    const std::optional<Text>& inline_comment() const noexcept;
    const std::vector<Text>& foot() const noexcept;
    const std::optional<Text>& raw() const noexcept;
    const std::vector<Text>& directives() const noexcept;
    // Where the node's properties begin, when it has any and they stand before its content.
    std::optional<Span> properties() const noexcept;
    bool has_texts() const noexcept { return texts_ != nullptr; }
    // The record itself; only when has_texts().
    const CommentTexts& texts_view() const noexcept { return *texts_; }

    // Write access; creates the record on first use.
    CommentTexts& texts();

private:
    std::unique_ptr<CommentTexts> texts_;
};

struct DirectoryFiles;  // roundtrip/directory_files.hpp
struct PlainContent;    // directives/plain_files.hpp
struct YamlNode;

// A collection's children (see node_memory.hpp for where their memory comes from).
using NodeList = std::vector<YamlNode, NodeAllocator<YamlNode>>;

// The config directive that produced a node (`!include x.yaml`, `!secret k`, ...).
struct IncludeSource {
    std::string tag;                              // as written
    std::string target;                           // include path, secret name or variable name with its default
    std::optional<std::uint32_t> target_file_id;  // single-file include: the included file's id
    // Single-file include: the included root's own comments and anchor. The
    // node carries the directive's (they belong to the including file); these
    // are what the included file is written with.
    std::optional<Comments> file_comments = std::nullopt;
    Text file_anchor = Text();
    // Directory include: the files read and which entries of the node each
    // gave (never changed after loading, so copies share it).
    std::shared_ptr<const DirectoryFiles> directory = nullptr;
    // Single-file include of a file that holds nothing but another directive
    // (`!include b.yaml` where b.yaml reads `!include c.yaml`): that
    // directive's record. The node's content belongs to it, while this file
    // keeps its text as read. Never changed after loading.
    std::shared_ptr<const IncludeSource> forwarded = nullptr;
    // Set only in loads that give plain Python objects: the node is a null
    // standing for content the directive loader left on the plain decoder's
    // tape of the file it read, instead of composing it. Never changed after loading.
    std::shared_ptr<const PlainContent> plain = nullptr;
};

// The record of the directive whose file holds a node's content: its own, or
// the end of its chain of forwarded includes; null for a node no directive made.
const IncludeSource* content_source(const YamlNode& node) noexcept;

struct YamlNode {
    Comments comments;
    Text anchor;  // without `&`; empty: none
    Text tag;     // as written; empty: none
    std::unique_ptr<IncludeSource> source;
    NodeKind kind = NodeKind::Null;
    ScalarStyle scalar_style = ScalarStyle::Plain;
    CollectionStyle style = CollectionStyle::Block;
    bool explicit_start = false;  // document root opened by `---`
    bool leading_bom = false;     // first root of a text that began with a byte-order mark
    bool synthetic = false;       // a null assigned from Python
    Text text;                    // Scalar: decoded text; Alias: the anchor name
    NodeList children;            // Sequence: items; Mapping: key, value, key, value, ...
    Span span;                    // start
    std::uint64_t end_offset = 0; // just past the last source byte
    std::uint32_t end_line = 0;
    std::uint32_t end_column = 0;

    YamlNode() = default;
    YamlNode(YamlNode&&) noexcept = default;
    YamlNode& operator=(YamlNode&&) noexcept;
    YamlNode(const YamlNode&) = delete;  // deep copies go through clone()
    YamlNode& operator=(const YamlNode&) = delete;
    ~YamlNode();

    // A deep copy (texts that are views stay views).
    YamlNode clone() const;
    // A copy of everything but the children.
    YamlNode clone_without_children() const;

    bool is_collection() const noexcept { return kind == NodeKind::Sequence || kind == NodeKind::Mapping; }
    bool is_modified_flag() const noexcept { return comments.modified; }

    // Items of a sequence, pairs of a mapping.
    std::size_t size() const noexcept {
        return kind == NodeKind::Mapping ? children.size() / 2 : children.size();
    }
    YamlNode& key(std::size_t pair) noexcept { return children[2 * pair]; }
    const YamlNode& key(std::size_t pair) const noexcept { return children[2 * pair]; }
    YamlNode& value(std::size_t pair) noexcept { return children[2 * pair + 1]; }
    const YamlNode& value(std::size_t pair) const noexcept { return children[2 * pair + 1]; }

    // The pair index of the key that is a Scalar with exactly this text, on
    // a mapping; -1 when there is none (or this is no mapping). When the text
    // is repeated, the last such key: its value is the one a load keeps.
    std::ptrdiff_t find_pair(std::string_view key_text) const noexcept;

    static YamlNode scalar(Text text, ScalarStyle style);
    static YamlNode null_node();
};

// Frees the children of a node being destroyed without recursing per level.
void release_iteratively(NodeList&& children) noexcept;

// Inline: trees are freed node by node, and most nodes hold nothing to free,
// which the inlined checks see without a call.
inline YamlNode::~YamlNode() {
    if (!children.empty()) release_iteratively(std::move(children));
}

// Bytes that the tree's text views point into: one source text and the
// scanner's arena for it. Held behind a pointer, so views survive moves.
struct TextStore {
    std::string text;
    TokenList tokens;  // only its texts are kept (arena and comment records)
};

// A whole round-trip document: every root of the stream and what it was read from.
struct DocumentContainer {
    std::vector<YamlNode> documents;
    std::vector<std::string> file_paths;                   // file id -> path; empty without includes
    std::vector<std::optional<std::string>> file_sources;  // file id -> text as read
    std::optional<std::string> origin;                     // path for save(), set by set_origin
    bool prefer_double_quotes = true;
    bool version_header = false;  // write "%YAML 1.2" (the load upgraded 1.1 scalars)
    NullStyle null_style = NullStyle::Empty;
    // The loaded text (returned as it was while nothing changed); absent when
    // dropped by deleting a root.
    bool keep_source = true;
    std::vector<std::unique_ptr<TextStore>> stores;  // stores[0]: the loaded text, when any

    std::optional<std::string_view> source() const noexcept {
        if (!keep_source || stores.empty()) return std::nullopt;
        return std::string_view(stores.front()->text);
    }
};

// True when the node or anything below it has its `modified` flag set.
bool is_modified(const YamlNode& node);

// Notes where a node read from a file stands, before an edit replaces its
// content (its kind, text, children or span) or changes its comments or
// anchor; a node that has a note keeps it, and a node an edit made (no
// position) gets none. So a node marked modified without a note changed only
// in its entries (some removed), and everything it holds still stands where
// it was read.
void remember_extent(YamlNode& node);

}  // namespace torvex::rt
