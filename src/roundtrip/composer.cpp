// The composer proper: tokens -> nodes. One recursive descent over the token
// list; the children of every collection are built on one shared scratch
// stack and moved into an exactly sized vector when the collection closes,
// so a node costs no allocation of its own beyond its collection's vector.
// Texts are views into the source or the scanner's arena.
#include "roundtrip/composer.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "core/stack_guard.hpp"
#include "decode/decoder.hpp"
#include "roundtrip/attach_comments.hpp"
#include "roundtrip/line_table.hpp"
#include "roundtrip/scratch_nodes.hpp"
#include "scanner/scanner.hpp"

namespace torvex::rt {

namespace {

// Whether a tag can resolve to the merge tag without a %TAG directive (which
// marks the stream anyway): only through the secondary handle (`!!merge`)
// or written verbatim. A local tag such as `!include_dir_merge_named` names
// no merge.
bool may_name_merge(std::string_view tag) noexcept {
    return (tag.starts_with("!!") || tag.starts_with("!<")) && tag.find("merge") != std::string_view::npos;
}

// Whether a tag is written with a named handle (`!e!x`): the one kind of
// tag the decoder can fail on, when no %TAG line defines the handle. The
// primary and secondary handles (`!x`, `!!x`) and verbatim tags always resolve.
bool names_handle(std::string_view tag) noexcept {
    if (tag.starts_with("!!") || tag.starts_with("!<")) return false;
    return tag.size() > 1 && tag.find('!', 1) != std::string_view::npos;
}

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool is_document_boundary(TokenKind k) noexcept {
    return k == TokenKind::StreamEnd || k == TokenKind::DocumentStart || k == TokenKind::DocumentEnd;
}

// Tokens after which an entry of a block sequence holds nothing.
bool ends_entry(TokenKind k) noexcept {
    return k == TokenKind::MappingEnd || k == TokenKind::SequenceEnd || k == TokenKind::BlockEnd ||
           k == TokenKind::Key || k == TokenKind::Value || k == TokenKind::SequenceEntry;
}

class Composer {
public:
    // Without `layout`, the spacing that only writing a tree back reads
    // (padding around `:` and `-`, own-line and compact entries) is not recorded.
    Composer(const TokenList& tokens, const LineTable& lines, bool layout)
        : tokens_(tokens), lines_(lines), layout_(layout) {}

    void run(std::vector<YamlNode>& roots);
    bool decoder_accepts() const noexcept { return decoder_accepts_; }
    bool has_tags() const noexcept { return has_tags_; }
    bool has_aliases() const noexcept { return has_aliases_; }
    bool merge_keys() const noexcept { return merge_keys_; }

private:
    TokenKind kind() const noexcept { return pos_ < tokens_.size() ? tokens_[pos_].kind : TokenKind::StreamEnd; }
    const Token& token(std::size_t i) const noexcept { return tokens_[i]; }

    // Composes one node at the cursor onto the scratch stack; false when
    // nothing stands there (and no properties are pending). `indentless`:
    // a `-` here opens an indentless sequence (a block mapping's key or
    // value); anywhere else it ends the construct.
    bool compose_node(std::size_t depth, bool indentless = false);
    // One node, or a Null node at `at` when nothing stands there.
    void compose_or_null(std::size_t depth, const Span& at, bool indentless = false);

    void compose_mapping(std::size_t depth);
    void compose_sequence(std::size_t depth);
    void compose_indentless_sequence(std::size_t depth);
    void compose_flow_pair(std::size_t depth, std::size_t base);

    // Node construction.
    YamlNode& push_leaf(NodeKind kind, const Token& at);
    void push_null(const Span& at, std::uint64_t end_offset);
    void push_property_null();
    // The value of a key without `:`, at the key's end (so that a comment
    // after the key trails the value on the key's line).
    void push_null_after_last() {
        const YamlNode& key = scratch_.back();
        push_null(Span{tokens_.file_id(), key.end_line, key.end_column, key.end_offset}, key.end_offset);
    }
    struct Properties {
        std::size_t anchor = kNone;
        std::size_t tag = kNone;    // the last tag: a later one replaces an earlier one
        std::size_t first = kNone;  // the first property token, where the node starts
    };
    Properties take_properties() noexcept { return std::exchange(pending_, Properties{}); }
    bool has_pending() const noexcept { return pending_.anchor != kNone || pending_.tag != kNone; }
    void apply_properties(YamlNode& node, const Properties& props) const;
    // Moves the scratch nodes from `base` into a new collection node on the scratch stack.
    // A flow collection ends just past its closing bracket, `end`, when it has one.
    // `first` is the decoder's node count (see emitted_) when the collection began.
    YamlNode& close_collection(std::size_t base, NodeKind kind, const Token& start, const Properties& props,
                               std::uint64_t first, bool flow, const Token* end = nullptr);
    // Layout of a block sequence item or mapping value against its `-` or `:`.
    void mark_entry_layout(YamlNode& node, const Token& indicator, bool sequence_item) const;
    void set_end(YamlNode& node, std::uint64_t end, std::uint32_t from_line) const;
    Span span_of(const Token& t) const noexcept { return Span{tokens_.file_id(), t.line, t.column, t.offset}; }
    // The position just past a one-byte indicator token.
    Span after(const Token& t) const noexcept {
        return Span{tokens_.file_id(), t.line, t.column + 1, t.offset + 1};
    }
    Span here() const noexcept {
        if (pos_ < tokens_.size()) return span_of(token(pos_));
        return Span{tokens_.file_id(), 0, 0, 0};
    }
    std::uint64_t text_end(const Token& t) const noexcept;

    // ---- what the value decoder would make of the same tokens ----
    // The composer is lenient where the decoder refuses; wherever the two
    // could part (or the decoder could hit a limit) the composer stops
    // vouching for the decoder (see ComposedStream::decoder_accepts).
    void doubt() noexcept { decoder_accepts_ = false; }
    void count_nodes(std::uint64_t n) noexcept { emitted_ = n > kNoBound - emitted_ ? kNoBound : emitted_ + n; }
    void remember_anchor(const Properties& props, std::uint64_t nodes);
    void expand_alias(const Token& alias);
    // The decoder fails a block mapping's value that starts on a later line
    // at or left of the keys' column (a key missing its `:`).
    void check_value_indent(const Token& mapping_start);
    // After a document's root: the decoder refuses anything but a document boundary.
    void check_document_end() noexcept {
        if (pos_ < tokens_.size() && kind() != TokenKind::StreamEnd && kind() != TokenKind::DocumentStart &&
            kind() != TokenKind::DocumentEnd) {
            doubt();
        }
    }

    static constexpr std::uint64_t kNoBound = static_cast<std::uint64_t>(-1);

    const TokenList& tokens_;
    const LineTable& lines_;
    const bool layout_;
    std::size_t pos_ = 0;
    Properties pending_;
    ScratchNodes scratch_;
    bool decoder_accepts_ = true;
    bool has_tags_ = false;
    bool has_aliases_ = false;
    bool merge_keys_ = false;  // see ComposedStream::merge_keys
    // An upper bound of the nodes the decoder writes so far (two per node:
    // a tagged scalar takes two), aliases counted by what they copy.
    std::uint64_t emitted_ = 0;
    std::uint64_t expanded_ = 0;  // the same bound for the nodes copied by aliases, as the decoder limits them
    // The document's anchors so far and the bound of the nodes each names.
    std::unordered_map<std::string_view, std::uint64_t> anchors_;
};

void Composer::run(std::vector<YamlNode>& roots) {
    std::vector<Text> directives;
    const auto take_root = [&](bool explicit_start) {
        YamlNode root = scratch_.pop_back();
        root.explicit_start = explicit_start;
        if (!directives.empty()) root.comments.texts().directives = std::move(directives);
        directives.clear();
        roots.push_back(std::move(root));
        anchors_.clear();  // aliases name anchors of their own document
        check_document_end();
    };
    while (pos_ < tokens_.size()) {
        switch (kind()) {
            case TokenKind::StreamStart:
            case TokenKind::StreamEnd:
            case TokenKind::DocumentEnd: ++pos_; continue;
            case TokenKind::Directive:
                doubt();  // the decoder checks directives and resolves tags by them
                merge_keys_ = true;
                directives.push_back(Text::view(tokens_.text(token(pos_))));
                ++pos_;
                continue;
            case TokenKind::DocumentStart: {
                const Token& marker = token(pos_);
                ++pos_;
                if (!compose_node(0)) {
                    // `---` with nothing after it is still a document, one that
                    // reads as null: dropping it would renumber the documents after it.
                    Span at = span_of(marker);
                    at.offset += 3;
                    at.column += 3;
                    push_null(at, at.offset);
                }
                take_root(true);
                if (kind() == TokenKind::DocumentEnd) ++pos_;
                continue;
            }
            default: {
                const std::size_t before = pos_;
                if (compose_node(0)) {
                    take_root(false);
                } else if (pos_ == before) {
                    doubt();
                    ++pos_;  // a token no document can start with
                }
                continue;
            }
        }
    }
}

bool Composer::compose_node(std::size_t depth, bool indentless) {
    if (depth >= kMaxNestingDepth / 2) doubt();  // the decoder counts its depth a little differently
    for (;;) {
        if (pos_ >= tokens_.size()) break;
        const Token& t = token(pos_);
        switch (t.kind) {
            case TokenKind::Anchor:
                if (pending_.anchor != kNone) doubt();  // two anchors on one node
                if (pending_.first == kNone) pending_.first = pos_;
                pending_.anchor = pos_++;
                continue;
            case TokenKind::Tag:
                if (names_handle(tokens_.text(t))) doubt();  // which the decoder fails on when no %TAG line defines it
                has_tags_ = true;
                if (may_name_merge(tokens_.text(t))) merge_keys_ = true;
                if (pending_.first == kNone) pending_.first = pos_;
                pending_.tag = pos_++;
                continue;
            case TokenKind::FlowEntry:
                // A `,` where a node should start belongs to the enclosing flow
                // collection: the node is empty (`{a: , b: 1}`, `{a: !t, b: 1}`).
                break;
            case TokenKind::Value:
                // Without properties the decoder skips a stray `:` and reads the next node here.
                if (!has_pending()) doubt();
                break;
            case TokenKind::StreamStart:
            case TokenKind::Directive:
                doubt();
                merge_keys_ = true;
                ++pos_;
                continue;
            case TokenKind::Scalar: {
                ++pos_;
                count_nodes(2);
                YamlNode& node = push_leaf(NodeKind::Scalar, t);
                const ScalarStyle style = TokenList::style(t);
                node.scalar_style = style;
                node.text = Text::view(tokens_.text(t));
                if (style == ScalarStyle::Plain && node.text.str() == "<<") merge_keys_ = true;
                const std::uint64_t end = tokens_.end_offset(t);
                if (style == ScalarStyle::Literal || style == ScalarStyle::Folded) {
                    node.comments.texts().raw = Text::view(tokens_.input().substr(t.offset, end - t.offset));
                }
                set_end(node, end, t.line);
                return true;
            }
            case TokenKind::Alias: {
                ++pos_;
                if (has_pending()) doubt();  // an alias cannot have properties
                has_aliases_ = true;
                expand_alias(t);
                YamlNode& node = push_leaf(NodeKind::Alias, t);
                node.text = Text::view(tokens_.text(t));
                node.end_offset = t.offset + 1 + node.text.size();
                node.end_line = t.line;
                node.end_column = t.column + 1 + count_chars(node.text.str());
                return true;
            }
            case TokenKind::MappingStart:
                with_stack_at(depth, [&] { compose_mapping(depth); });
                return true;
            case TokenKind::SequenceStart:
                with_stack_at(depth, [&] { compose_sequence(depth); });
                return true;
            case TokenKind::SequenceEntry:
                if (!indentless) break;
                with_stack_at(depth, [&] { compose_indentless_sequence(depth); });
                return true;
            default: break;  // a token that ends a construct
        }
        break;
    }
    if (!has_pending()) return false;
    push_property_null();
    return true;
}

void Composer::compose_or_null(std::size_t depth, const Span& at, bool indentless) {
    if (!compose_node(depth, indentless)) push_null(at, at.offset);
}

// Block and flow mappings. Keys and values go onto the scratch stack in turn.
void Composer::compose_mapping(std::size_t depth) {
    const std::uint64_t first = emitted_;
    const std::size_t start = pos_++;
    const Properties props = take_properties();
    const bool flow = TokenList::flow(token(start));
    const std::size_t base = scratch_.size();
    const Token* end = nullptr;
    for (;;) {
        const TokenKind k = kind();
        if (k == TokenKind::FlowEntry) {
            ++pos_;
            continue;
        }
        if (k == TokenKind::MappingEnd || k == TokenKind::BlockEnd) {
            if (flow) end = &token(pos_);
            ++pos_;
            break;
        }
        if (is_document_boundary(k) || pos_ >= tokens_.size()) break;
        const std::size_t entry = pos_;
        if (k == TokenKind::Key) {
            ++pos_;
            compose_or_null(depth + 1, after(token(entry)), !flow);
        } else if (k == TokenKind::Value) {
            push_null(here(), here().offset);  // `: value`: the key is empty
        } else {
            // A block mapping's keys come with their Key tokens; the decoder
            // reads an entry without one in ways of its own.
            if (!flow) doubt();
            compose_or_null(depth + 1, here());
        }
        if (kind() == TokenKind::Value) {
            if (!flow) check_value_indent(token(start));
            const Token& colon = token(pos_++);
            if (!flow && layout_) {
                YamlNode& key = scratch_.back();
                if (key.end_line == colon.line && colon.column >= key.end_column) {
                    key.comments.colon_pad = static_cast<std::uint8_t>(std::min<std::uint32_t>(colon.column - key.end_column, 255));
                }
            }
            compose_or_null(depth + 1, after(colon), !flow);
            if (!flow && layout_) mark_entry_layout(scratch_.back(), colon, false);
        } else {
            push_null_after_last();
        }
        if (pos_ == entry) {
            // A token no entry can start with (the scanner lets none through): drop it.
            doubt();
            scratch_.truncate(scratch_.size() - 2);
            ++pos_;
        }
    }
    close_collection(base, NodeKind::Mapping, token(start), props, first, flow, end);
}

// Sequences opened by a start token: `[` or a block sequence's first `-`.
void Composer::compose_sequence(std::size_t depth) {
    const std::uint64_t first = emitted_;
    const std::size_t start = pos_++;
    const Properties props = take_properties();
    const bool flow = TokenList::flow(token(start));
    const std::size_t base = scratch_.size();
    const Token* end = nullptr;
    for (;;) {
        const TokenKind k = kind();
        if (k == TokenKind::SequenceEnd || k == TokenKind::BlockEnd || k == TokenKind::MappingEnd) {
            if (flow && k != TokenKind::BlockEnd) end = &token(pos_);
            ++pos_;
            break;
        }
        if (is_document_boundary(k) || pos_ >= tokens_.size()) break;
        if (!flow && k != TokenKind::SequenceEntry) doubt();  // the decoder wants every block item after a `-`
        const std::size_t before = pos_;
        if (k == TokenKind::SequenceEntry || k == TokenKind::FlowEntry) {
            const Token& separator = token(pos_++);
            const TokenKind next = kind();
            if (flow) {
                // A trailing comma adds no item.
                if (next == TokenKind::SequenceEnd || next == TokenKind::FlowEntry) continue;
            } else if (ends_entry(next)) {
                if (next == TokenKind::Value) doubt();  // the decoder skips a stray `:`
                push_null(after(separator), separator.offset + 1);
                continue;
            }
        }
        if (flow && kind() == TokenKind::Key) {
            // `[? a : b]`, and `[a: b]`, which the scanner gives a Key token too.
            const Token& key_token = token(pos_++);
            const std::size_t pair = scratch_.size();
            compose_or_null(depth + 1, after(key_token));
            compose_flow_pair(depth, pair);
            continue;
        }
        const std::size_t item = scratch_.size();
        if (!compose_node(depth + 1)) {
            if (!flow && (k == TokenKind::SequenceEntry)) push_null(after(token(before)), token(before).offset + 1);
            if (pos_ == before) {
                doubt();  // the decoder ends the sequence here
                ++pos_;   // nothing here belongs to the sequence
            }
            continue;
        }
        if (flow && kind() == TokenKind::Value) compose_flow_pair(depth, item);
        if (!flow && layout_ && k == TokenKind::SequenceEntry) mark_entry_layout(scratch_.back(), token(before), true);
    }
    close_collection(base, NodeKind::Sequence, token(start), props, first, flow, end);
}

// The rest of a flow sequence's single-pair mapping once its key is on the
// scratch stack at `base`: the value after `:`, or a Null.
void Composer::compose_flow_pair(std::size_t depth, std::size_t base) {
    if (kind() == TokenKind::Value) {
        const Span at = after(token(pos_++));
        compose_or_null(depth + 1, at);
    } else {
        push_null_after_last();
    }
    NodeList children = scratch_.take_from(base);
    count_nodes(2);
    YamlNode& pair = scratch_.emplace_back();
    pair.kind = NodeKind::Mapping;
    pair.style = CollectionStyle::Flow;
    pair.span = children[0].span;
    const YamlNode& last = children[1].end_offset >= children[0].end_offset ? children[1] : children[0];
    pair.end_offset = last.end_offset;
    pair.end_line = last.end_line;
    pair.end_column = last.end_column;
    pair.children = std::move(children);
}

// A sequence of bare `-` entries at the column of its parent mapping's keys.
void Composer::compose_indentless_sequence(std::size_t depth) {
    const std::uint64_t first = emitted_;
    const std::size_t start = pos_;
    const Properties props = take_properties();
    const std::size_t base = scratch_.size();
    while (kind() == TokenKind::SequenceEntry) {
        const Token& dash = token(pos_++);
        if (ends_entry(kind())) {
            if (kind() == TokenKind::Value) doubt();  // the decoder skips a stray `:`
            push_null(after(dash), dash.offset + 1);
            continue;
        }
        compose_or_null(depth + 1, after(dash));
        if (layout_) mark_entry_layout(scratch_.back(), dash, true);
    }
    close_collection(base, NodeKind::Sequence, token(start), props, first, false);
}

YamlNode& Composer::push_leaf(NodeKind kind, const Token& at) {
    YamlNode& node = scratch_.emplace_back();
    node.kind = kind;
    node.span = span_of(at);
    if (!has_pending()) return node;  // most nodes have no properties
    const Properties props = take_properties();
    apply_properties(node, props);
    remember_anchor(props, 2);
    return node;
}

void Composer::push_null(const Span& at, std::uint64_t end_offset) {
    count_nodes(2);
    YamlNode& node = scratch_.emplace_back();
    node.span = at;
    set_end(node, end_offset, at.line);
}

// A node with properties and no content (`key: &a`, `- !t`): it starts at
// its first property and ends just past its last one.
void Composer::push_property_null() {
    const Properties props = take_properties();
    const std::size_t first = props.first;
    const std::size_t last = props.anchor == kNone ? props.tag : props.tag == kNone ? props.anchor
                             : props.anchor > props.tag                               ? props.anchor
                                                                                      : props.tag;
    count_nodes(2);
    YamlNode& node = scratch_.emplace_back();
    node.span = span_of(token(first));
    apply_properties(node, props);
    remember_anchor(props, 2);
    set_end(node, text_end(token(last)), token(first).line);
}

void Composer::remember_anchor(const Properties& props, std::uint64_t nodes) {
    // A name defined again names the later node from here on.
    if (props.anchor != kNone) anchors_.insert_or_assign(tokens_.text(token(props.anchor)), nodes);
}

void Composer::expand_alias(const Token& alias) {
    const auto found = anchors_.find(tokens_.text(alias));
    if (found == anchors_.end()) {
        doubt();  // an unknown alias, or one to an anchor that is not yet complete
        return;
    }
    const std::uint64_t copied = std::max<std::uint64_t>(found->second, 1);
    expanded_ = copied > kNoBound - expanded_ ? kNoBound : expanded_ + copied;
    if (expanded_ > kMaxExpandedNodes) doubt();
    count_nodes(copied);
}

void Composer::check_value_indent(const Token& mapping_start) {
    const std::size_t next = pos_ + 1;
    if (next >= tokens_.size()) return;
    const Token& t = token(next);
    if (starts_no_value_after_colon(t.kind)) return;
    if (t.line > token(pos_).line && t.column <= mapping_start.column) doubt();
}

void Composer::apply_properties(YamlNode& node, const Properties& props) const {
    if (props.anchor != kNone) node.anchor = Text::view(tokens_.text(token(props.anchor)));
    if (props.tag != kNone) node.tag = Text::view(tokens_.text(token(props.tag)));
    if (props.first != kNone) node.comments.texts().properties = span_of(token(props.first));
}

void Composer::mark_entry_layout(YamlNode& node, const Token& indicator, bool sequence_item) const {
    // The node's first character: its first property, or its content.
    Span first = node.span;
    if (node.comments.has_texts() && node.comments.properties() && node.comments.properties()->offset < first.offset)
        first = *node.comments.properties();
    if (first.line != indicator.line) {
        node.comments.own_line = first.line > indicator.line && first.offset > indicator.offset;
        return;
    }
    if (first.column <= indicator.column) return;
    const bool block = node.is_collection() && node.style == CollectionStyle::Block;
    if (block && node.span.line == indicator.line) {
        // `- - a`: the entry opens its own block sequence on the `-` line.
        if (sequence_item && node.kind == NodeKind::Sequence) node.comments.compact = true;
        return;
    }
    node.comments.value_pad = first.column - indicator.column - 1;
}

YamlNode& Composer::close_collection(std::size_t base, NodeKind kind, const Token& start, const Properties& props,
                                     std::uint64_t first, bool flow, const Token* end) {
    count_nodes(2);
    remember_anchor(props, emitted_ - first);
    NodeList children = scratch_.take_from(base);
    YamlNode& node = scratch_.emplace_back();
    node.kind = kind;
    node.style = flow ? CollectionStyle::Flow : CollectionStyle::Block;
    node.span = span_of(start);
    apply_properties(node, props);
    const YamlNode* last = nullptr;
    for (const YamlNode& child : children) {
        if (last == nullptr || child.end_offset > last->end_offset) last = &child;
    }
    if (end != nullptr) {
        node.end_offset = end->offset + 1;
        node.end_line = end->line;
        node.end_column = end->column + 1;
    } else if (last != nullptr && last->end_offset >= start.offset) {
        node.end_offset = last->end_offset;
        node.end_line = last->end_line;
        node.end_column = last->end_column;
    } else {
        node.end_offset = start.offset;
        node.end_line = start.line;
        node.end_column = start.column;
    }
    node.children = std::move(children);
    return node;
}

// Sets the end and its line and column; `from_line` is a line not after the end.
void Composer::set_end(YamlNode& node, std::uint64_t end, std::uint32_t from_line) const {
    node.end_offset = end;
    // Most nodes end on the line they start on.
    const std::uint32_t line = end < lines_.next_line_start(from_line) ? from_line : lines_.line_of(end, from_line);
    node.end_line = line;
    if (line == node.span.line && end >= node.span.offset) {
        node.end_column = node.span.column + count_chars(tokens_.input().substr(node.span.offset, end - node.span.offset));
    } else {
        node.end_column = lines_.column_of(end, line);
    }
}

// Just past the source text of an anchor or tag token.
std::uint64_t Composer::text_end(const Token& t) const noexcept {
    const std::string_view text = tokens_.text(t);
    const std::string_view input = tokens_.input();
    if (text.data() >= input.data() && text.data() + text.size() <= input.data() + input.size()) {
        return static_cast<std::uint64_t>(text.data() - input.data()) + text.size();
    }
    return t.offset;
}

}  // namespace

Result<ComposedStream> compose_stream(std::string text, std::uint32_t file_id, bool with_comments) {
    auto store = std::make_unique<TextStore>();
    store->text = std::move(text);
    auto scanned = tokenize(store->text, file_id, /*record_comments=*/with_comments);
    if (!scanned.ok()) return std::move(scanned).error();
    store->tokens = std::move(scanned).value();
    return compose_tokenized(std::move(store), with_comments);
}

ComposedStream compose_tokenized(std::unique_ptr<TextStore> store, bool with_comments, bool keep_tokens) {
    // The nodes keep views of the texts: the arena (possibly the thread's
    // spare, sized for an earlier text) is cut to size now, before any view
    // is taken, since cutting moves it.
    store->tokens.shrink_texts();
    const std::string_view source = store->text;
    const LineTable lines(source, /*blanks=*/with_comments);
    ComposedStream out;
    // Layout goes with the comments: both are kept for writing the tree back only.
    Composer composer(store->tokens, lines, /*layout=*/with_comments);
    {
        // Trees without comments are read-only loads' (see node_memory.hpp).
        const ArenaComposition arena(/*wanted=*/!with_comments);
        composer.run(out.roots);
    }
    out.decoder_accepts = composer.decoder_accepts();
    out.has_tags = composer.has_tags();
    out.has_aliases = composer.has_aliases();
    out.merge_keys = composer.merge_keys();
    if (with_comments) attach_comments(out.roots, store->tokens.comments(), lines);
    const bool bom = source.size() >= 3 && static_cast<unsigned char>(source[0]) == 0xEF &&
                     static_cast<unsigned char>(source[1]) == 0xBB && static_cast<unsigned char>(source[2]) == 0xBF;
    if (bom && !out.roots.empty()) out.roots.front().leading_bom = true;
    if (!keep_tokens) store->tokens.release_tokens();
    out.store = std::move(store);
    return out;
}

}  // namespace torvex::rt
