#include "roundtrip/emitter.hpp"

#include <algorithm>
#include <functional>
#include <utility>

#include "core/stack_guard.hpp"
#include "decode/decoder.hpp"
#include "decode/tape.hpp"
#include "encode/out_buffer.hpp"
#include "encode/yaml_quoting.hpp"
#include "roundtrip/emitter_writer.hpp"
#include "roundtrip/in_place.hpp"
#include "roundtrip/line_breaks.hpp"
#include "roundtrip/line_table.hpp"

namespace torvex::rt {

namespace detail {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// Longest key written in the `key: value` form; longer ones take `? key`,
// since readers accept implicit keys of at most 1024 characters.
constexpr std::size_t kMaxSimpleKey = 1024;

bool has_properties(const YamlNode& node) noexcept { return !node.tag.empty() || !node.anchor.empty(); }

}  // namespace

// ---- layout pieces ---------------------------------------------------------

void Writer::comment_line(std::size_t indent, std::string_view text) {
    // A comment text holding a line break (an edit) becomes several comment
    // lines: the part after the break must not be read as content.
    for (;;) {
        const std::size_t cut = text.find_first_of("\r\n");
        const std::string_view line = text.substr(0, cut);
        out_.spaces(indent);
        out_.put('#');
        if (!line.empty()) {
            out_.put(' ');
            out_.append(line);
        }
        out_.put('\n');
        if (cut == std::string_view::npos) return;
        text.remove_prefix(cut + 1);
        if (text.empty()) return;
    }
}

void Writer::head_comments(const YamlNode& node, std::size_t indent) {
    if (!node.comments.has_texts()) return;  // most nodes: no call into the record
    for (const Text& t : node.comments.head()) comment_line(indent, t.str());
}

void Writer::blank_lines(std::uint32_t count) {
    if (keep_tail_) return;
    for (std::uint32_t i = 0; i < count; ++i) out_.put('\n');
}

void Writer::inline_comment(std::uint32_t spaces, std::string_view text) {
    out_.spaces(std::max<std::uint32_t>(spaces, 1));
    out_.put('#');
    if (text.empty()) return;
    out_.put(' ');
    // A line break inside an inline comment would end it: written as a space.
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') continue;
        out_.append(text.data() + run, i - run);
        out_.put(' ');
        run = i + 1;
    }
    out_.append(text.data() + run, text.size() - run);
}

void Writer::comment_tail(const YamlNode* node) {
    if (node && node->comments.has_texts() && node->comments.inline_comment())
        inline_comment(node->comments.inline_spaces, node->comments.inline_comment()->str());
    if (!pending_.empty()) {
        for (const Text* t : pending_) inline_comment(2, t->str());
        pending_.clear();
    }
}

void Writer::line_end(const YamlNode* node) {
    // A block scalar ends its own last line and wrote the comments in its header.
    if (out_.back() == '\n') return;
    comment_tail(node);
    out_.put('\n');
}

bool lead_is_current(const YamlNode& node) noexcept {
    if (!node.comments.has_texts() || !node.comments.texts_view().lead) return false;
    // Head comments given by an edit are owned texts; removed ones leave fewer.
    const std::vector<Text>& head = node.comments.head();
    return head.size() == node.comments.texts_view().lead_comments && (head.empty() || !head.front().is_owned());
}

// A root's lead that holds a `---` or `...` line: it separates the root from the document before.
bool lead_ends_document(const YamlNode& root) noexcept {
    if (!lead_is_current(root)) return false;
    const std::string_view lead = root.comments.texts_view().lead->str();
    for (std::size_t at = 0; at < lead.size();) {
        if (lead.substr(at).starts_with("---") || lead.substr(at).starts_with("...")) return true;
        const std::size_t brk = lead.find_first_of("\r\n", at);
        if (brk == std::string_view::npos) break;
        at = brk + 1;
    }
    return false;
}

bool Writer::lead(const YamlNode& node) {
    if (!copy_) return false;
    // Lines after a block scalar written afresh could join its content (see fresh_block_).
    if (((keep_tail_ || fresh_block_) && !tail_as_read_) || !lead_is_current(node)) return false;
    out_.append(node.comments.texts_view().lead->str());
    copied_ = true;
    return true;
}

bool Writer::trail(const YamlNode& node) {
    if (!copy_) return false;
    if (((keep_tail_ || fresh_block_) && !tail_as_read_) || !node.comments.has_texts()) return false;
    const CommentTexts& texts = node.comments.texts_view();
    if (!texts.trail) return false;
    const std::string_view tail = texts.trail->str();
    for (const Text& t : texts.foot) {
        const std::string_view s = t.str();
        if (s.data() < tail.data() || s.data() + s.size() > tail.data() + tail.size()) return false;
    }
    if (texts.ends_without_break && out_.back() == '\n') {
        out_.truncate(out_.size() - 1);
        if (out_.back() == '\r') out_.truncate(out_.size() - 1);
    }
    out_.append(tail);
    copied_ = true;
    return true;
}

std::size_t Writer::output_column() const noexcept {
    const std::size_t start = out_.line_start();
    return count_chars(std::string_view(out_.data() + start, out_.size() - start));
}

// Whether `text`, with its fit, can be written plain here.
bool plain_here(const yaml::PlainFit& fit, std::string_view text, bool in_flow) noexcept {
    return (in_flow ? fit.flow_ok : fit.block_ok) && !text.starts_with(kBom);
}

// A plain scalar's source text is valid only where the text could be written
// plain (`:` or `-` alone, a flow indicator inside a flow collection, ...);
// elsewhere it is written as a modified one would be, quoted.
// (A multi-line one, whose text holds line breaks, is kept only at its own
// column, which as_read checks.)
bool readable_where_placed(const YamlNode& n, bool in_flow) {
    if (n.kind != NodeKind::Scalar || n.scalar_style != ScalarStyle::Plain) return true;
    const std::string_view text = n.text.str();
    if (text.find('\n') != std::string_view::npos) return true;
    return plain_here(yaml::plain_fit(text), text, in_flow);
}

bool Writer::as_read(const YamlNode& n, bool one_line) {
    if (!copy_) return false;
    if (n.comments.modified || n.synthetic || !placed(n) || n.span.file_id >= sources_.size()) return false;
    const std::string_view source = sources_[n.span.file_id];
    Span first = n.span;
    if (const std::optional<Span> props = n.comments.properties(); props && props->offset < first.offset) first = *props;
    if (source.empty() || n.end_offset > source.size() || first.offset >= n.end_offset) return false;
    if (n.is_collection() && is_modified(n)) return false;
    const std::string_view text = source.substr(first.offset, n.end_offset - first.offset);
    // A single pair inside a flow sequence (`[a: b]`) has no brackets of its
    // own to delimit its text: it is written afresh.
    if (n.kind == NodeKind::Mapping && source[n.span.offset] != '{') return false;
    // Continuation lines keep their columns: the first line must too.
    // An implicit key must stay on one line.
    if (text.find_first_of("\r\n") != std::string_view::npos && (one_line || output_column() != first.column))
        return false;
    out_.append(text);
    copied_ = true;
    return true;
}

std::size_t Writer::block_column(const YamlNode& node, std::size_t parent_indent, bool same_allowed,
                                 std::size_t fallback) const noexcept {
    if (!placed(node)) return fallback;
    const std::size_t column = node.span.column;
    return column > parent_indent || (same_allowed && column == parent_indent) ? column : fallback;
}

void Writer::gather_flow_comments(const YamlNode& node) {
    if (!node.comments.has_texts()) return;
    for (const Text& t : node.comments.head()) pending_.push_back(&t);
    if (node.comments.inline_comment()) pending_.push_back(&*node.comments.inline_comment());
}

bool Writer::properties(const YamlNode& node) {
    if (!node.tag.empty()) out_.append(node.tag.str());
    if (!node.anchor.empty()) {
        if (!node.tag.empty()) out_.put(' ');
        out_.put('&');
        out_.append(node.anchor.str());
    }
    return has_properties(node);
}

void Writer::suffix_properties(const YamlNode& node) {
    if (!has_properties(node)) return;
    out_.put(' ');
    properties(node);
}

void Writer::directive(const YamlNode& node) {
    out_.append(node.source->tag);
    out_.put(' ');
    out_.append(node.source->target);
}

Writer::NullForm Writer::null_form(const YamlNode& node, Position pos) const noexcept {
    const bool commented = node.comments.has_texts() && node.comments.inline_comment().has_value();
    if (node.synthetic) {
        const bool bare = !commented && node.anchor.empty() && (pos == Position::MapValue || node.tag.empty());
        if (null_style_ == NullStyle::Empty && bare && (pos == Position::MapValue || pos == Position::SeqItem))
            return NullForm::Nothing;
        return NullForm::Word;
    }
    // A tag on an empty node gives it its meaning (`!!str` is the empty
    // string): written as the properties alone, never with "null".
    if (!node.tag.empty()) return NullForm::PropertiesOnly;
    // An empty value read with a comment after it (`patreon: # your name`)
    // stays empty: it reads the same.
    if ((pos == Position::MapValue || pos == Position::SeqItem) && node.anchor.empty()) return NullForm::Nothing;
    return NullForm::Word;
}

// ---- documents -------------------------------------------------------------

void Writer::root(const YamlNode& node, bool skip_source, bool after_document) {
    // The lines before the root as read: markers, directives, comments.
    const bool framed = copy_ && lead_is_current(node);
    if (framed) {
        out_.append(node.comments.texts_view().lead->str());
        copied_ = true;
    } else {
        const auto& directives = node.comments.directives();
        if (!directives.empty()) {
            // A directive line may only follow the end of a document.
            if (after_document) out_.append("...\n");
            for (const Text& d : directives) {
                out_.put('%');
                out_.append(d.str());
                out_.put('\n');
            }
        }
        if (node.explicit_start || !directives.empty()) out_.append("---\n");
    }
    keep_tail_ = false;
    fresh_block_ = false;
    if (!framed) head_comments(node, 0);
    if (skip_source) unsourced_ = &node;
    if (sourced(node)) {
        directive(node);
        line_end(&node);
    } else if (non_empty_block(node)) {
        if (properties(node)) {
            line_end(&node);
        } else {
            if (out_.back() != '\n' && out_.size() > 0) {
                // The root stood on the `---` line; a block collection cannot.
                while (out_.back() == ' ' || out_.back() == '\t') out_.truncate(out_.size() - 1);
                out_.put('\n');
            }
            if (node.comments.inline_comment()) comment_line(0, node.comments.inline_comment()->str());
        }
        const std::size_t column = block_column(node, 0, true, 0);
        if (node.kind == NodeKind::Mapping) {
            block_mapping(node, column, false, 0);
        } else {
            block_sequence(node, column, false, 0);
        }
    } else {
        // An empty document written as read stays empty.
        const bool empty_as_read = framed && node.kind == NodeKind::Null && !node.synthetic && !has_properties(node);
        if (!empty_as_read) {
            // A root read on its `---` line stays there, apart from the marker.
            if (framed && out_.size() > 0 && out_.back() != '\n' && out_.back() != ' ') out_.put(' ');
            Writer::node(node, Position::Root, BlockPlace{2, 0}, 0);
        }
        line_end(&node);
    }
    if (!trail(node)) {
        for (const Text& t : node.comments.foot()) comment_line(0, t.str());
    }
    unsourced_ = nullptr;
}

// ---- block collections -----------------------------------------------------

void Writer::block_mapping(const YamlNode& map, std::size_t indent, bool first_on_line, std::size_t depth) {
    with_stack_at(depth, [&] {
        const bool as_read_here = placed(map) && map.span.column == indent;
        const std::size_t pairs = map.size();
        for (std::size_t i = 0; i < pairs; ++i) {
            const YamlNode& key = map.key(i);
            const YamlNode& value = map.value(i);
            if (i > 0 || !first_on_line) {
                if (!lead(key)) {
                    blank_lines(key.comments.blank_before);
                    head_comments(key, indent);
                }
                out_.spaces(indent);
            }
            keep_tail_ = false;
            fresh_block_ = false;
            const bool block_key = !sourced(key) && (non_empty_block(key) ||
                                                   ((key.scalar_style == ScalarStyle::Literal ||
                                                     key.scalar_style == ScalarStyle::Folded) &&
                                                    key.kind == NodeKind::Scalar));
            if (block_key) {
                complex_key(key, indent, depth + 1);
                out_.spaces(indent);
            } else {
                const std::size_t start = out_.size();
                const bool outer = std::exchange(one_line_, true);
                node(key, Position::Key, BlockPlace{indent + 2, static_cast<long>(indent)}, depth + 1);
                one_line_ = outer;
                std::size_t pad = key.comments.colon_pad;
                if (pad == 0 && key.kind == NodeKind::Alias && !sourced(key)) pad = 1;  // `*a:` would name the anchor "a:"
                out_.spaces(pad);
                if (out_.size() - start > kMaxSimpleKey) {
                    out_.insert(start, "? ");
                    line_end(&key);
                    out_.spaces(indent);
                }
            }
            out_.put(':');
            mapping_value(value, indent, as_read_here, depth + 1);
        }
    });
}

void Writer::complex_key(const YamlNode& key, std::size_t indent, std::size_t depth) {
    out_.put('?');
    if (non_empty_block(key)) {
        suffix_properties(key);
        line_end(&key);
        if (key.kind == NodeKind::Mapping) {
            block_mapping(key, indent + 2, false, depth);
        } else {
            block_sequence(key, indent + 2, false, depth);
        }
        return;
    }
    out_.put(' ');
    node(key, Position::Root, BlockPlace{indent + 2, static_cast<long>(indent)}, depth);
    line_end(&key);
}

void Writer::mapping_value(const YamlNode& value, std::size_t indent, bool parent_as_read, std::size_t depth) {
    if (sourced(value)) {
        out_.put(' ');
        directive(value);
        line_end(&value);
        return;
    }
    if (non_empty_block(value)) {
        suffix_properties(value);
        line_end(&value);
        // New content is indented as the file indents its own (new_content.hpp).
        const bool hinted = value.comments.indent_hinted;
        if (value.kind == NodeKind::Sequence) {
            // A sequence written at its key's column in the source stays there.
            const std::size_t at = block_column(value, indent, true, indent + (hinted ? value.comments.indent_step : 0));
            if (!lead(value)) head_comments(value, at);
            block_sequence(value, at, false, depth);
        } else {
            const std::size_t step = hinted && value.comments.indent_step > 0 ? value.comments.indent_step : 2;
            const std::size_t at = block_column(value, indent, false, indent + step);
            if (!lead(value)) head_comments(value, at);
            block_mapping(value, at, false, depth);
        }
        return;
    }
    if (value.kind == NodeKind::Null && null_form(value, Position::MapValue) == NullForm::Nothing) {
        line_end(&value);
        head_comments(value, indent + 2);
        return;
    }
    // Comment lines above the value, or a value read on the line after its
    // key: the value goes on a line of its own.
    const bool own_line = value.comments.own_line || !value.comments.head().empty();
    const bool comment_on_key = own_line && value.comments.key_line_comment;
    if (own_line) {
        if (comment_on_key) comment_tail(&value);
        line_end(nullptr);
        if (!lead(value)) head_comments(value, indent + 2);
        out_.spaces(own_line_column(value, indent, indent + 2));
    } else {
        out_.spaces(std::max<std::uint32_t>(value.comments.value_pad, 1));
    }
    node(value, Position::MapValue, BlockPlace{indent + 2, static_cast<long>(indent), parent_as_read}, depth);
    line_end(comment_on_key ? nullptr : &value);
}

void Writer::block_sequence(const YamlNode& seq, std::size_t indent, bool first_on_line, std::size_t depth) {
    with_stack_at(depth, [&] {
        const bool as_read_here = placed(seq) && seq.span.column == indent;
        const std::size_t items = seq.children.size();
        for (std::size_t i = 0; i < items; ++i) {
            const YamlNode& item = seq.children[i];
            if (i > 0 || !first_on_line) {
                if (!lead(item)) {
                    blank_lines(item.comments.blank_before);
                    head_comments(item, indent);
                }
                out_.spaces(indent);
            }
            keep_tail_ = false;
            fresh_block_ = false;
            out_.put('-');
            sequence_item(item, indent, as_read_here, depth + 1);
        }
    });
}

void Writer::sequence_item(const YamlNode& item, std::size_t indent, bool parent_as_read, std::size_t depth) {
    const std::size_t inner = indent + 2;
    if (sourced(item)) {
        out_.put(' ');
        directive(item);
        line_end(&item);
        return;
    }
    if (non_empty_block(item)) {
        // Properties before a collection's first entry on the same line would
        // belong to that entry: such an item starts on the next line.
        const bool own_line = has_properties(item) || item.comments.inline_comment().has_value();
        // On the `-` line: past the dash and at least one space.
        const std::size_t column = block_column(item, indent, false, inner);
        const std::size_t compact_column = block_column(item, indent + 1, false, inner);
        if (item.kind == NodeKind::Sequence) {
            if (item.comments.compact && !own_line) {
                out_.spaces(compact_column - indent - 1);
                block_sequence(item, compact_column, true, depth);
                return;
            }
            suffix_properties(item);
            line_end(&item);
            block_sequence(item, column, false, depth);
            return;
        }
        const YamlNode& first_key = item.key(0);
        if (own_line || item.comments.own_line || !first_key.comments.head().empty()) {
            suffix_properties(item);
            line_end(&item);
            block_mapping(item, column, false, depth);
            return;
        }
        out_.spaces(compact_column - indent - 1);
        block_mapping(item, compact_column, true, depth);
        return;
    }
    if (item.kind == NodeKind::Null && null_form(item, Position::SeqItem) == NullForm::Nothing) {
        line_end(&item);
        return;
    }
    if (item.comments.own_line) {
        line_end(nullptr);
        out_.spaces(own_line_column(item, indent, inner));
    } else {
        out_.spaces(std::max<std::uint32_t>(item.comments.value_pad, 1));
    }
    node(item, Position::SeqItem, BlockPlace{inner + 2, static_cast<long>(indent), parent_as_read}, depth);
    line_end(&item);
}

// ---- inline nodes ----------------------------------------------------------

void Writer::node(const YamlNode& n, Position pos, BlockPlace place, std::size_t depth) {
    if (sourced(n)) {
        directive(n);
        return;
    }
    const bool in_flow = pos == Position::Flow;
    const bool inline_form = n.kind == NodeKind::Alias ||
                             (n.kind == NodeKind::Scalar && n.scalar_style != ScalarStyle::Literal &&
                              n.scalar_style != ScalarStyle::Folded) ||
                             (n.is_collection() && n.style == CollectionStyle::Flow);
    if (inline_form && readable_where_placed(n, in_flow) && as_read(n, one_line_ || pos == Position::Key)) return;
    if (n.kind == NodeKind::Null) {
        const NullForm form = null_form(n, pos);
        if (form == NullForm::Nothing) return;
        const bool props = properties(n);
        if (form == NullForm::PropertiesOnly) {
            // Keep `,` `]` `}` `:` off the tag or anchor.
            if (in_flow || pos == Position::Key) out_.put(' ');
            return;
        }
        if (props) out_.put(' ');
        out_.append(n.synthetic && null_style_ == NullStyle::Tilde ? std::string_view("~") : std::string_view("null"));
        return;
    }
    if (properties(n)) out_.put(' ');
    switch (n.kind) {
        case NodeKind::Scalar: scalar(n, pos, place); return;
        case NodeKind::Alias:
            out_.put('*');
            out_.append(n.text.str());
            return;
        case NodeKind::Sequence: flow_sequence(n, depth); return;
        case NodeKind::Mapping: flow_mapping(n, depth); return;
        case NodeKind::Null: return;
    }
}

void Writer::block_collection_here(const YamlNode& n) {
    keep_tail_ = false;
    fresh_block_ = false;
    if (n.kind == NodeKind::Mapping) {
        block_mapping(n, n.span.column, true, 0);
    } else {
        block_sequence(n, n.span.column, true, 0);
    }
}

void Writer::mapping_value_here(const YamlNode& value, std::size_t indent) {
    keep_tail_ = false;
    fresh_block_ = false;
    mapping_value(value, indent, true, 0);
}

void Writer::inline_node(const YamlNode& n, Position pos, bool with_properties) {
    if (with_properties) {
        node(n, pos, BlockPlace{}, 0);
        return;
    }
    switch (n.kind) {
        case NodeKind::Null:
            if (null_form(n, pos) == NullForm::Word)
                out_.append(n.synthetic && null_style_ == NullStyle::Tilde ? std::string_view("~")
                                                                           : std::string_view("null"));
            return;
        case NodeKind::Scalar: scalar(n, pos, BlockPlace{}); return;
        case NodeKind::Alias:
            out_.put('*');
            out_.append(n.text.str());
            return;
        case NodeKind::Sequence: flow_sequence(n, 0); return;
        case NodeKind::Mapping: flow_mapping(n, 0); return;
    }
}

void Writer::flow_sequence(const YamlNode& seq, std::size_t depth) {
    with_stack_at(depth, [&] {
        out_.put('[');
        bool first = true;
        for (const YamlNode& item : seq.children) {
            if (!first) out_.append(", ");
            first = false;
            gather_flow_comments(item);
            node(item, Position::Flow, BlockPlace{}, depth + 1);
        }
        out_.put(']');
    });
}

void Writer::flow_mapping(const YamlNode& map, std::size_t depth) {
    with_stack_at(depth, [&] {
        out_.put('{');
        const std::size_t pairs = map.size();
        for (std::size_t i = 0; i < pairs; ++i) {
            if (i > 0) out_.append(", ");
            const YamlNode& key = map.key(i);
            const YamlNode& value = map.value(i);
            gather_flow_comments(key);
            gather_flow_comments(value);
            const bool outer = std::exchange(one_line_, true);
            node(key, Position::Flow, BlockPlace{}, depth + 1);
            one_line_ = outer;
            if (key.kind == NodeKind::Alias && !sourced(key)) out_.put(' ');
            out_.append(": ");
            node(value, Position::Flow, BlockPlace{}, depth + 1);
        }
        out_.put('}');
    });
}

// ---- scalars ---------------------------------------------------------------

void Writer::double_quoted(std::string_view text) {
    out_.put('"');
    yaml::append_escaped(out_, text);
    out_.put('"');
}

void Writer::single_quoted(std::string_view text) {
    out_.put('\'');
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\'') continue;
        out_.append(text.data() + run, i + 1 - run);
        out_.put('\'');
        run = i + 1;
    }
    out_.append(text.data() + run, text.size() - run);
    out_.put('\'');
}

void Writer::scalar(const YamlNode& n, Position pos, BlockPlace place) {
    const std::string_view text = n.text.str();
    const bool in_flow = pos == Position::Flow;
    switch (n.scalar_style) {
        case ScalarStyle::Plain: {
            const yaml::PlainFit fit = yaml::plain_fit(text);
            if (plain_here(fit, text, in_flow)) {
                out_.append(text);
            } else if (!prefer_double_ && fit.single_ok) {
                single_quoted(text);
            } else {
                double_quoted(text);
            }
            return;
        }
        case ScalarStyle::SingleQuoted:
            // A line break inside single quotes would be folded by readers.
            if (yaml::plain_fit(text).single_ok) {
                single_quoted(text);
            } else {
                double_quoted(text);
            }
            return;
        case ScalarStyle::DoubleQuoted: double_quoted(text); return;
        case ScalarStyle::Literal:
        case ScalarStyle::Folded:
            if (in_flow || pos == Position::Key) {
                double_quoted(text);
                return;
            }
            if (!n.comments.modified && n.comments.raw() && raw_block_scalar(n, place)) return;
            if (yaml::plain_fit(text).block_scalar_ok) {
                block_scalar(n, place);
            } else {
                double_quoted(text);
            }
            return;
    }
}

namespace {

bool reads_same(std::string_view a, const Result<DecodedTape>& read_b) {
    if (!read_b.ok()) return false;
    const Result<DecodedTape> read_a = decode_tape(a, 0, {});
    return read_a.ok() && same_documents(read_a.value(), read_b.value());
}

}  // namespace

std::string checked_emission(const std::function<std::string(bool copy, bool& copied)>& emit,
                             std::optional<std::string> placed, bool* took_placed) {
    if (placed) {
        bool unused = false;
        std::string fresh = emit(false, unused);
        if (*placed == fresh || reads_same(*placed, decode_tape(fresh, 0, {}))) {
            if (took_placed) *took_placed = true;
            return std::move(*placed);
        }
    }
    bool copied = false;
    std::string kept = emit(true, copied);
    // Nothing copied: the text is what the fresh writer writes.
    if (!copied) return kept;
    bool unused = false;
    std::string fresh = emit(false, unused);
    if (kept == fresh) return kept;
    // Copied source text is checked, not trusted: the layout around an edit
    // is kept only when the text reads as the same tree written afresh does.
    const Result<DecodedTape> read_kept = decode_tape(kept, 0, {});
    if (!read_kept.ok()) return fresh;
    const Result<DecodedTape> read_fresh = decode_tape(fresh, 0, {});
    if (read_fresh.ok() && same_documents(read_kept.value(), read_fresh.value())) return kept;
    return fresh;
}

void document(Writer& writer, OutBuffer& out, const YamlNode& root, std::size_t index) {
    if (index == 0 && root.leading_bom) out.append(kBom);
    // Every later document needs its marker; a root with directives writes
    // its own after them.
    if (index > 0 && !root.explicit_start && root.comments.directives().empty() &&
        !(writer.copies() && lead_ends_document(root)))
        out.append("---\n");
    writer.root(root, false, index > 0);
}

namespace {

// Applies the version header of an upgraded load to finished output.
std::string with_version_header(std::string text) {
    std::size_t at = text.starts_with(kBom) ? kBom.size() : 0;
    if (std::string_view(text).substr(at).starts_with("%YAML")) {
        const std::size_t lf = text.find('\n', at);
        if (lf != std::string::npos) text.erase(at, lf + 1 - at);
    }
    const std::string_view rest = std::string_view(text).substr(at);
    const bool marker = rest.starts_with("---") &&
                        (rest.size() == 3 || rest[3] == ' ' || rest[3] == '\n' || rest[3] == '\r');
    text.insert(at, marker ? "%YAML 1.2\n" : "%YAML 1.2\n---\n");
    return text;
}

}  // namespace

}  // namespace detail

std::vector<std::string_view> source_texts(const DocumentContainer& container) {
    std::vector<std::string_view> out;
    out.reserve(container.stores.size());
    for (const auto& store : container.stores) {
        const std::string_view text = store ? std::string_view(store->text) : std::string_view();
        // Line breaks by a lone carriage return: nothing of the text is copied (see attach_comments).
        out.push_back(has_lone_cr(text) ? std::string_view() : text);
    }
    return out;
}

std::string document_to_yaml(const DocumentContainer& container) {
    const std::optional<std::string_view> source = container.source();
    std::string result;
    const bool modified = std::any_of(container.documents.begin(), container.documents.end(),
                                      [](const YamlNode& root) { return is_modified(root); });
    bool in_place = false;
    if (source && !modified) {
        result.assign(*source);
    } else {
        const std::vector<std::string_view> sources = source_texts(container);
        std::optional<std::string> placed;
        if (source && !sources.empty() && !sources.front().empty()) {
            std::vector<const YamlNode*> roots;
            roots.reserve(container.documents.size());
            for (const YamlNode& root : container.documents) roots.push_back(&root);
            placed = write_in_place(FileInPlace{sources.front(), 0, roots, sources, false}, container.null_style,
                                    container.prefer_double_quotes);
        }
        result = detail::checked_emission([&](bool copy, bool& copied) {
            OutBuffer out(std::max<std::size_t>(256, source ? source->size() + source->size() / 8 : 0));
            detail::Writer writer(out, container.null_style, container.prefer_double_quotes, sources, copy);
            for (std::size_t i = 0; i < container.documents.size(); ++i) {
                detail::document(writer, out, container.documents[i], i);
            }
            copied = writer.copied();
            return std::move(out).take();
        }, std::move(placed), &in_place);
    }
    if (container.version_header) result = detail::with_version_header(std::move(result));
    // Unedited text stays byte for byte; written text takes the source's line ends.
    if (source && modified && !in_place) result = in_style_of(*source, std::move(result));
    return result;
}

namespace {

// An include boundary's file written in place, when its text is known.
std::optional<std::string> included_in_place(const YamlNode& boundary, bool prefer_double,
                                             std::span<const std::string_view> sources) {
    const IncludeSource* content = content_source(boundary);
    if (!content || !content->target_file_id || *content->target_file_id >= sources.size()) return std::nullopt;
    const std::uint32_t id = *content->target_file_id;
    if (sources[id].empty()) return std::nullopt;
    const YamlNode* roots[] = {&boundary};
    return write_in_place(FileInPlace{sources[id], id, roots, sources, true}, NullStyle::Keyword, prefer_double);
}

std::string render_root(const YamlNode& node, NullStyle null_style, bool prefer_double, bool skip_source,
                        std::span<const std::string_view> sources, std::optional<std::string> placed = std::nullopt) {
    const std::size_t estimate = node.end_offset > node.span.offset ? node.end_offset - node.span.offset : 0;
    return detail::checked_emission([&](bool copy, bool& copied) {
        OutBuffer out(std::max<std::size_t>(256, estimate + estimate / 8));
        if (node.leading_bom) out.append(detail::kBom);
        detail::Writer writer(out, null_style, prefer_double, sources, copy);
        writer.root(node, skip_source, false);
        copied = writer.copied();
        return std::move(out).take();
    }, std::move(placed));
}

}  // namespace

std::string node_to_yaml(const YamlNode& node, const EmitStyle& style) {
    return render_root(node, style.null_style, style.prefer_double_quotes, false, {});
}

std::string render_included_file(const YamlNode& node, bool prefer_double_quotes,
                                 std::span<const std::string_view> sources) {
    const IncludeSource* content = content_source(node);
    std::optional<std::string> placed = included_in_place(node, prefer_double_quotes, sources);
    if (!content || !content->file_comments) {
        return render_root(node, NullStyle::Keyword, prefer_double_quotes, true, sources, std::move(placed));
    }
    // The node's comments and anchor are the directive's, written in the
    // including file; the included file keeps its own.
    YamlNode file = node.clone();
    file.comments = *content->file_comments;
    file.comments.modified = node.comments.modified;
    file.anchor = content->file_anchor;
    file.source.reset();
    return render_root(file, NullStyle::Keyword, prefer_double_quotes, false, sources, std::move(placed));
}

std::string render_file_documents(const std::vector<const YamlNode*>& roots, bool prefer_double_quotes,
                                  std::span<const std::string_view> sources) {
    std::size_t estimate = 0;
    for (const YamlNode* root : roots) {
        estimate += root->end_offset > root->span.offset ? root->end_offset - root->span.offset : 0;
    }
    return detail::checked_emission([&](bool copy, bool& copied) {
        OutBuffer out(std::max<std::size_t>(256, estimate + estimate / 8));
        detail::Writer writer(out, NullStyle::Keyword, prefer_double_quotes, sources, copy);
        for (std::size_t i = 0; i < roots.size(); ++i) detail::document(writer, out, *roots[i], i);
        copied = writer.copied();
        return std::move(out).take();
    });
}

}  // namespace torvex::rt
