// The direct tape builder's reader, a class template: the plain load
// instantiates it without places (direct_tape.cpp) and the annotated load
// with them (direct_tape_places.cpp), each in a unit of its own, so that
// neither instantiation changes how the compiler lays out the other.
//
// The reader itself reads the common subset of YAML (block and flow
// collections of plain and quoted scalars, block scalars, comments, `---`
// document starts, anchors and aliases on values, tags on values whose node
// follows on the same line) straight from the text onto the tape, without a
// token list. Scalar bodies other than one-line plain and escape-free quoted
// ones go through the scanner's own scalar scanners (ScalarReader).
//
// It gives way (nullopt) at the first thing outside the subset and at
// anything the general path might reject or read otherwise: tabs outside
// scalars, a line at a column no enclosing collection has, properties on
// keys, an anchor and a tag on one node, tagged empty nodes, verbatim tags
// and named tag handles, directives, `...`, explicit and complex keys, merge
// keys, multi-line plain scalars in flow. The token-list path then reads the
// text from the start and reports any error, so what this returns is exactly
// what that path returns, warnings included (fuzz_direct_tape and the
// direct-tape tests compare the two).
#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/stack_guard.hpp"
#include "core/utf8_count.hpp"
#include "core/utf8_units.hpp"
#include "core/wide_bytes.hpp"
#include "decode/document_directives.hpp"
#include "decode/key_identity.hpp"
#include "decode/tape.hpp"
#include "scanner/byte_search.hpp"
#include "scanner/reader.hpp"
#include "scanner/scalar_reader.hpp"

namespace torvex::direct {

// Internal to each unit that includes this (only the two readers' units do):
// the compiler then sees every call of each member and inlines as it would
// in a single unit.
namespace {

using scan::is_break;
using scan::is_flow_indicator;

// Whether a plain scalar may start with a byte: not with an indicator, white
// space or a control character; `-`, `?` and `.` depend on what follows
// them. (`:` is left to the token-list path.)
enum class PlainStart : std::uint8_t { No, Yes, Check };
constexpr std::array<PlainStart, 256> kPlainStart = [] {
    std::array<PlainStart, 256> table{};
    for (unsigned c = 0x20; c < 256; ++c) table[c] = PlainStart::Yes;
    for (const unsigned char c : std::string_view(" ,[]{}#&*!|>'\"%@`:")) table[c] = PlainStart::No;
    table['-'] = table['?'] = table['.'] = PlainStart::Check;
    return table;
}();

// Deeper texts take the token-list path, which has the documented limits.
constexpr std::uint32_t kDirectMaxDepth = 200;

// A scalar as read: its text, where it starts and ends, and how it was
// written. `made`: the offset of a text the scalar reader made (valid only
// until its next read), else ScalarReader::kNotMade.
struct Scalar {
    std::string_view text;
    std::size_t start;
    std::uint32_t line;
    std::size_t line_start;
    bool plain;
    // By the scalar reader, which may end it on a later line: then where it
    // ends, on which line, and where that line starts (with places only).
    // Others end on their first line, just past their text and quotes.
    bool read = false;
    std::size_t made = ScalarReader::kNotMade;
    std::size_t end;
    std::uint32_t end_line;
    std::size_t end_line_start;
};

// A place in the text: byte offset, 0-based line and column in characters.
struct Mark {
    std::uint64_t offset = 0;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

// With kPlaces, each node's place goes to `places` as it is read; without,
// the reader is the plain load's, with nothing of the places in it.
template <bool kPlaces>
class DirectTape {
public:
    DirectTape(std::string_view text, std::uint32_t file_id, const DecodeOptions& options, DecodedTape& out,
               std::vector<TapePlace>* places)
        : s_(reinterpret_cast<const unsigned char*>(text.data())),
          n_(text.size()),
          options_(options),
          out_(out),
          tape_(out.tape),
          file_id_(file_id),
          places_(places) {}

    bool run();
    // After run(): the texts the scalar reader made go to `out`, and the nodes get their pointers.
    void finish();

private:
    // --- cursor ---
    unsigned char byte(std::size_t q) const noexcept { return q < n_ ? s_[q] : 0; }
    bool end() const noexcept { return p_ >= n_; }
    // A space, a line break or the end (not a tab: tabs are left to the token-list path).
    bool space_break_or_end(std::size_t q) const noexcept { return q >= n_ || s_[q] == ' ' || is_break(s_[q]); }
    // The column where only ASCII precedes the cursor on its line (indentation and indicators).
    std::int64_t here() const noexcept { return static_cast<std::int64_t>(p_ - line_start_); }
    // The column in characters of `pos` on the line that starts at `line_start`.
    std::uint32_t char_column(std::size_t line_start, std::size_t pos) const noexcept {
        return static_cast<std::uint32_t>(utf8::measure(s_ + line_start, pos - line_start).chars);
    }
    void skip_spaces() noexcept {
        while (p_ < n_ && s_[p_] == ' ') ++p_;
    }
    void take_break() noexcept {
        p_ += scan::break_length(s_, p_, n_);
        ++line_;
        line_start_ = p_;
    }
    bool marker_here() const noexcept { return p_ == line_start_ && scan::document_marker_at(s_, p_, n_); }
    bool entry_here() const noexcept { return byte(p_) == '-' && space_break_or_end(p_ + 1); }
    bool to_content();
    bool lines_to_content();
    // Most tokens in a flow collection follow the previous one directly or after one space.
    bool flow_space(std::int64_t flow_indent) {
        if (p_ < n_ && s_[p_] == ' ') ++p_;
        if (p_ < n_ && s_[p_] > ' ' && s_[p_] != '#') return true;
        return skip_flow_space(flow_indent);
    }
    bool skip_flow_space(std::int64_t flow_indent);

    // --- nodes ---
    bool document();
    bool block_node(std::int64_t column);
    [[gnu::noinline]] bool later_line_node(std::int64_t column);
    // `read_key`: the first key, when the caller has read it already (the
    // cursor just past it), and `read_colon` where its `:` stands.
    bool block_mapping(std::int64_t column, const Scalar* read_key = nullptr, std::size_t read_colon = 0);
    bool block_sequence(std::int64_t column, bool indentless);
    bool block_value(std::int64_t column, bool in_mapping);
    // `anchored`: the node's properties have been read; `tag`, as written, when one of them is a tag.
    bool inline_value(std::int64_t column, bool in_sequence, bool anchored, std::string_view tag = {});
    bool after_inline_value(std::int64_t column);
    bool anchored_value(std::int64_t column, bool in_sequence);
    [[gnu::noinline]] bool tagged_value(std::int64_t column, bool in_sequence, bool flow, std::int64_t flow_indent);
    bool read_tag(std::string_view& tag);
    bool open_tagged_collection(std::string_view tag);
    bool alias();
    bool flow_collection(std::int64_t flow_indent);
    bool flow_sequence(std::int64_t flow_indent);
    bool flow_mapping(std::int64_t flow_indent);
    // Inlined into the flow readers: most flow scalars are short plain ones.
    [[gnu::always_inline]] inline bool flow_scalar(std::int64_t flow_indent, bool key, Scalar& scalar);
    [[gnu::noinline]] bool flow_quoted(std::int64_t flow_indent, bool key, Scalar& scalar);
    // Inlined into the flow readers, which call it for every value.
    [[gnu::always_inline]] inline bool flow_value(std::int64_t flow_indent);
    // Inlined for its common cases; flow_separator_spaced reads the others.
    [[gnu::always_inline]] inline bool flow_separator(std::int64_t flow_indent, unsigned char closing);
    [[gnu::noinline]] bool flow_separator_spaced(std::int64_t flow_indent, unsigned char closing);
    bool block_scalar(std::int64_t column, bool fold, std::string_view tag = {});

    // --- scalars ---
    bool plain_may_start(bool flow) const noexcept {
        const PlainStart start = kPlainStart[byte(p_)];
        return start == PlainStart::Check ? plain_may_start_at_indicator(flow) : start == PlainStart::Yes;
    }
    [[gnu::always_inline]] inline bool plain_may_start_at_indicator(bool flow) const noexcept;
    // In flow context when kFlow: a separate body for each context, as the
    // stops differ and the reader is in the one or the other for long.
    template <bool kFlow>
    [[gnu::always_inline]] bool one_line_plain(Scalar& scalar);
    bool one_line_quoted(Scalar& scalar);
    bool read_scalar(ScalarReader::Style style, std::int64_t indent, bool flow, std::int64_t flow_indent,
                     Scalar& scalar, bool& multi_line);
    std::size_t colon_at(std::size_t q) const noexcept;
    bool colon_follows(std::size_t q) const noexcept { return colon_at(q) != n_; }
    [[gnu::always_inline]] bool push_scalar(const Scalar& scalar) {
        if (!push_scalar_value(scalar)) return false;
        if constexpr (kPlaces)
            place_scalar(scalar);
        return true;
    }
    // Most scalars are strings by their style or first byte, or short
    // integers: pushed without a call.
    [[gnu::always_inline]] bool push_scalar_value(const Scalar& scalar) {
        if (!scalar.plain || plain_is_str_at_a_glance(scalar.text)) {
            tape_.push_text(TapeNode::Kind::String, scalar.text);
            if (scalar.made != ScalarReader::kNotMade) note_made(scalar.made);
            return true;
        }
        std::int64_t integer = 0;
        if (plain_short_decimal(scalar.text, integer)) {
            tape_.push_int(integer);
            return true;
        }
        return push_resolved(scalar);
    }
    // The common fractions and keywords first, in a call that saves few registers.
    [[gnu::noinline]] bool push_resolved(const Scalar& scalar) {
        double floating = 0.0;
        if (plain_short_decimal_float(scalar.text, floating)) {
            tape_.push_float(floating);
            return true;
        }
        Resolved keyword;
        if (plain_keyword_in_every_mode(scalar.text, keyword)) {
            push_resolved_scalar(tape_, keyword, scalar.text);
            return true;
        }
        return push_resolved_by_mode(scalar);
    }
    [[gnu::noinline]] bool push_resolved_by_mode(const Scalar& scalar);
    // A scalar under a tag, as the token-list path pushes it.
    [[gnu::noinline]] bool push_tagged(const Scalar& scalar, std::string_view tag) {
        if (!push_tagged_value(scalar, tag)) return false;
        if constexpr (kPlaces) place_scalar(scalar);
        return true;
    }
    bool push_tagged_value(const Scalar& scalar, std::string_view tag);
    bool push_scalar(const Scalar& scalar, std::string_view tag) {
        return tag.empty() ? push_scalar(scalar) : push_tagged(scalar, tag);
    }
    // The last node's text was made by the scalar reader, whose buffer may
    // still move: the node holds its offset until finish().
    void note_made(std::size_t offset) {
        tape_.nodes.back().span = offset;
        made_nodes_.push_back(tape_.nodes.size() - 1);
    }
    // The same after a resolved push, where the node holds the text only as a str or a big int.
    void note_if_made(const Scalar& scalar) {
        if (scalar.made == ScalarReader::kNotMade) [[likely]]
            return;
        const TapeNode::Kind kind = tape_.nodes.back().kind();
        if (kind == TapeNode::Kind::String || kind == TapeNode::Kind::BigInt) note_made(scalar.made);
    }
    bool check_key(std::unordered_set<std::string>* seen, std::size_t key_node, const Scalar& key);
    // --- places (only with kPlaces) ---
    // The readers above call out to these: what the places take stays out
    // of their bodies, which the annotated load shares with the plain one.
    // Columns in characters, counted on from the last one asked for when it
    // was on the same line and not further on: places are asked for in the
    // order of the text, so most bytes are counted once.
    std::uint32_t place_column(std::size_t line_start, std::size_t pos) noexcept {
        if (line_start != column_line_start_ || pos < column_pos_) {
            column_line_start_ = line_start;
            column_pos_ = line_start;
            column_chars_ = 0;
        }
        column_chars_ += utf8::count_chars(s_ + column_pos_, pos - column_pos_);
        column_pos_ = pos;
        return column_chars_;
    }
    Mark scalar_start(const Scalar& scalar) noexcept {
        return {scalar.start, scalar.line, place_column(scalar.line_start, scalar.start)};
    }
    Mark scalar_end(const Scalar& scalar) noexcept;
    ScalarStyle scalar_style(const Scalar& scalar) const noexcept;
    // The line of a position on the cursor's line or an earlier one, and where that line starts.
    struct LineAt {
        std::uint32_t line;
        std::size_t start;
    };
    LineAt line_before(std::size_t pos) const noexcept;
    Mark mark_before(std::size_t pos) noexcept {
        const LineAt at = line_before(pos);
        return {pos, at.line, place_column(at.start, pos)};
    }
    std::size_t line_start_of(std::size_t pos) const noexcept;
    // The nodes pushed since the last place get this one (two for a scalar under a tag that stays on the tape).
    void place_new_nodes(const Mark& start, const Mark& end, ScalarStyle style) {
        const TapePlace place{start.offset, end.offset, start.line, start.column, end.line, end.column, style};
        do places_->push_back(place);
        while (places_->size() < tape_.nodes.size());
        written_end_ = end;
    }
    [[gnu::noinline]] void place_scalar(const Scalar& scalar) {
        const Mark start = scalar_start(scalar);  // first: columns are counted on
        place_new_nodes(start, scalar_end(scalar), scalar_style(scalar));
    }
    // An empty node, where it would have started (just past its `:` or `-`).
    void push_null_at(std::size_t pos) {
        tape_.push_null();
        if constexpr (kPlaces)
            place_empty(pos);
    }
    [[gnu::noinline]] void place_empty(std::size_t pos) {
        const Mark at = mark_before(pos);
        place_new_nodes(at, at, ScalarStyle::Plain);
    }
    // A collection's header, starting at the cursor, or for a block mapping
    // at its first key (set by place_start once it is read).
    std::size_t open(TapeNode::Kind kind, bool at_cursor = true) {
        const std::size_t header = tape_.open(kind);
        if constexpr (kPlaces)
            place_open(at_cursor);
        return header;
    }
    [[gnu::noinline]] void place_open(bool at_cursor) {
        const Mark at = at_cursor ? mark_before(p_) : Mark{};
        places_->push_back(TapePlace{at.offset, at.offset, at.line, at.column, at.line, at.column, ScalarStyle::Plain});
    }
    // Its count, and its end: where its last entry ended, or the cursor
    // just past a flow collection's bracket.
    void close(std::size_t header, std::uint64_t count, bool flow) {
        tape_.close(header, count);
        if constexpr (kPlaces)
            place_close(header, flow);
    }
    [[gnu::noinline]] void place_close(std::size_t header, bool flow) {
        if (flow) written_end_ = mark_before(p_);
        TapePlace& place = (*places_)[header];
        place.end_offset = written_end_.offset;
        place.end_line = written_end_.line;
        place.end_column = written_end_.column;
    }
    // The node at `first` (and the node under it, for a tag that stays on
    // the tape) starts at `pos`, where its first property stands.
    [[gnu::noinline]] void place_start(std::size_t first, std::size_t pos) { place_start(first, mark_before(pos)); }
    void place_start(std::size_t first, const Mark& at) {
        const std::size_t node = tape_.nodes[first].kind() == TapeNode::Kind::Tagged ? first + 1 : first;
        TapePlace& place = (*places_)[node];
        place.offset = at.offset;
        place.line = at.line;
        place.column = at.column;
        if (node != first) (*places_)[first] = place;  // a tag that stays on the tape spans its node
    }
    // A block mapping starts at its first key.
    [[gnu::noinline]] void place_first_key(std::size_t header, const Scalar& key) {
        place_start(header, scalar_start(key));
    }

    template <class F>
    bool nested(F&& f) {
        if (depth_ >= kDirectMaxDepth) return false;
        ++depth_;
        const bool ok = with_stack_at(depth_, std::forward<F>(f));
        --depth_;
        return ok;
    }

    const unsigned char* s_;
    std::size_t n_;
    std::size_t p_ = 0;
    std::uint32_t line_ = 0;
    std::size_t line_start_ = 0;
    std::uint32_t depth_ = 0;
    std::size_t plain_stop_ = 0;  // where the last one-line plain scalar's line content stopped
    // The last quoted scalar one_line_quoted looked at: its opening quote,
    // where its first run ended, and whether that run holds non-ASCII bytes
    // (read_scalar hands them on, so a scalar it gives up on is not searched twice).
    std::size_t quote_start_ = 0;
    std::size_t quote_run_end_ = 0;
    bool quote_run_high_ = false;
    const DecodeOptions& options_;
    DecodedTape& out_;
    Tape& tape_;
    // Made at the first scalar it reads, and the map at the first anchor:
    // most small documents need neither, whose set-up and teardown cost calls.
    std::uint32_t file_id_;
    std::optional<ScalarReader> scalars_;
    struct Anchor {
        std::size_t first;
        std::size_t last;
    };
    std::optional<std::unordered_map<std::string_view, Anchor>> anchors_;
    std::uint64_t expanded_nodes_ = 0;
    // Where block_mapping last failed at its first key (unread, or without its `:`).
    std::size_t alone_key_at_ = static_cast<std::size_t>(-1);
    std::vector<std::size_t> made_nodes_;  // nodes holding an offset (note_made), ascending
    std::vector<TapePlace>* places_;       // null: places are not wanted
    Mark written_end_;                     // where the last node read ends in the text (an alias: its name)
    std::size_t column_line_start_ = ~std::size_t{0};  // place_column's memo
    std::size_t column_pos_ = 0;
    std::uint32_t column_chars_ = 0;
};

// ---------------------------------------------------------------------------
// White space and comments

// After a node: the rest of the line must be spaces and maybe a comment;
// then past empty and comment lines to the next content (or the end).
template <bool kPlaces>
bool DirectTape<kPlaces>::to_content() {
    // Most nodes end their line.
    if (p_ < n_ && s_[p_] == '\n') {
        ++p_;
        ++line_;
        line_start_ = p_;
        return lines_to_content();
    }
    skip_spaces();
    if (p_ < n_ && s_[p_] == '#') {
        if (p_ > line_start_ && s_[p_ - 1] != ' ') return false;  // glued to the node: an error
        while (p_ < n_ && !is_break(s_[p_])) ++p_;
    }
    if (p_ >= n_) return true;
    if (!is_break(s_[p_])) return false;
    take_break();
    return lines_to_content();
}

// At a line start: past empty and comment lines to the first content.
template <bool kPlaces>
bool DirectTape<kPlaces>::lines_to_content() {
    // Most lines start with their content.
    if (p_ < n_ && s_[p_] > ' ' && s_[p_] != '#') return true;
    for (;;) {
        p_ = wide::skip_spaces(s_, p_, n_);  // the indentation, 16 bytes at a time
        if (p_ >= n_) return true;
        const unsigned char c = s_[p_];
        if (c == '#') {
            while (p_ < n_ && !is_break(s_[p_])) ++p_;
            if (p_ >= n_) return true;
        } else if (!is_break(c)) {
            return c != '\t';
        }
        take_break();
    }
}

// Inside a flow collection: spaces, comments and line breaks, up to the next
// token, which must stand right of the block context's column.
template <bool kPlaces>
bool DirectTape<kPlaces>::skip_flow_space(std::int64_t flow_indent) {
    for (;;) {
        skip_spaces();
        if (p_ >= n_) return false;  // unclosed
        const unsigned char c = s_[p_];
        if (c == '#') {
            if (p_ > line_start_ && s_[p_ - 1] != ' ') return false;
            while (p_ < n_ && !is_break(s_[p_])) ++p_;
            continue;
        }
        if (!is_break(c)) {
            if (c == '\t') return false;
            // On a later line: indented past the block context, and no document marker.
            if (p_ == line_start_ && scan::document_marker_at(s_, p_, n_)) return false;
            return true;
        }
        take_break();
        skip_spaces();
        if (p_ < n_ && !is_break(s_[p_]) && here() <= flow_indent) return false;
    }
}

// ---------------------------------------------------------------------------
// Stream and documents

template <bool kPlaces>
bool DirectTape<kPlaces>::run() {
    if (n_ >= 3 && s_[0] == 0xEF && s_[1] == 0xBB && s_[2] == 0xBF) return false;  // a byte order mark
    if (!lines_to_content()) return false;
    bool first = true;
    while (!end()) {
        if (marker_here()) {
            if (s_[p_] == '.') return false;  // `...` (and what may follow it: directives)
            p_ += 3;
            if (!to_content()) return false;  // content on the `---` line
            out_.documents.push_back(tape_.nodes.size());
            if (end() || marker_here()) {
                push_null_at(p_);
            } else if (!document()) {
                return false;
            }
        } else {
            if (!first) return false;
            out_.documents.push_back(tape_.nodes.size());
            if (!document()) return false;
        }
        first = false;
        if (anchors_) anchors_->clear();
        if (!end() && !marker_here()) return false;  // trailing content
    }
    return true;
}

// The document's root node, at the cursor (content on a line's start).
template <bool kPlaces>
bool DirectTape<kPlaces>::document() {
    const std::int64_t col = here();
    const unsigned char c = s_[p_];
    if (entry_here()) return nested([&] { return block_sequence(col, false); });
    if (c == '[' || c == '{') {
        if (!flow_collection(-1)) return false;
        return to_content();
    }
    if (c == '"' || c == '\'' || plain_may_start(false)) {
        // A mapping's first key, or a scalar alone.
        const std::size_t start = p_;
        Scalar scalar;
        if (!(c == '"' || c == '\'' ? one_line_quoted(scalar) : one_line_plain<false>(scalar))) return false;
        const std::size_t colon = colon_at(p_);
        if (colon != n_) return nested([&] { return block_mapping(col, &scalar, colon); });
        if (c != '"' && c != '\'') {
            // A plain scalar alone may go on over later lines: read it whole.
            p_ = start;
            bool multi_line = false;
            if (!read_scalar(ScalarReader::Style::Plain, -1, false, 0, scalar, multi_line)) return false;
        }
        if (!push_scalar(scalar) || !to_content()) return false;
        return end() || marker_here();  // a following line would continue a quoted scalar: an error
    }
    return false;
}

// ---------------------------------------------------------------------------
// Block collections

// A block collection whose first token starts a line at `column`.
template <bool kPlaces>
bool DirectTape<kPlaces>::block_node(std::int64_t column) {
    if (entry_here()) return nested([&] { return block_sequence(column, false); });
    return nested([&] { return block_mapping(column); });
}

template <bool kPlaces>
bool DirectTape<kPlaces>::block_mapping(std::int64_t column, const Scalar* read_key, std::size_t read_colon) {
    const std::size_t header = open(TapeNode::Kind::Mapping, /*at_cursor=*/false);
    std::uint64_t count = 0;
    std::optional<std::unordered_set<std::string>> identities;
    if (options_.duplicate_keys_error || options_.duplicate_keys_warn) identities.emplace();
    std::unordered_set<std::string>* seen = identities ? &*identities : nullptr;
    for (;;) {
        // The key: a one-line scalar and its `:`.
        const std::size_t key_node = tape_.nodes.size();
        const std::size_t key_at = p_;
        Scalar key;
        const unsigned char c = byte(p_);
        std::size_t colon = n_;
        if (read_key != nullptr) {
            key = *std::exchange(read_key, nullptr);
            colon = read_colon;
        } else if (c == '"' || c == '\'' ? one_line_quoted(key) : plain_may_start(false) && one_line_plain<false>(key)) {
            colon = colon_at(p_);
        }
        if (colon == n_) {
            // No mapping after all, maybe: the caller may read a scalar or a
            // flow collection there instead (one line read at most).
            if (count == 0) alone_key_at_ = key_at;
            return false;
        }
        p_ = colon + 1;
        if constexpr (kPlaces) {
            if (count == 0) place_first_key(header, key);
        }
        if (!push_scalar(key) || !block_value(column, true)) return false;
        if (seen != nullptr && !check_key(seen, key_node, key)) return false;
        ++count;
        if (end() || marker_here() || here() < column) break;
        if (here() > column) return false;
    }
    close(header, count, false);
    return true;
}

// `indentless`: a mapping value's sequence whose entries stand at the
// mapping's column; it ends at the first line there that is no entry.
template <bool kPlaces>
bool DirectTape<kPlaces>::block_sequence(std::int64_t column, bool indentless) {
    const std::size_t header = open(TapeNode::Kind::Sequence);
    std::uint64_t count = 0;
    for (;;) {
        ++p_;  // the `-`
        if (!block_value(column, false)) return false;
        ++count;
        if (end() || marker_here() || here() < column) break;
        if (here() > column) return false;
        if (!entry_here()) {
            if (indentless) break;
            return false;
        }
    }
    close(header, count, false);
    return true;
}

// A block collection's node that starts on a line after its `:` or `-`,
// indented past the collection's `column`: a block collection, or a node
// read as on the indicator's line (a scalar's continuation lines, too, must
// stand right of the collection).
template <bool kPlaces>
bool DirectTape<kPlaces>::later_line_node(std::int64_t column) {
    const std::int64_t col = here();
    if (entry_here()) return nested([&] { return block_sequence(col, false); });
    // Most such nodes are mappings: read as one until its first key turns
    // out to be none (one line read at most, so the line is as it was).
    const std::size_t start = p_;
    const std::size_t mark = tape_.nodes.size();
    if (nested([&] { return block_mapping(col); })) return true;
    if (alone_key_at_ != start) return false;  // failed elsewhere, or deeper
    p_ = start;
    tape_.nodes.resize(mark);
    if constexpr (kPlaces) places_->resize(mark);
    return inline_value(column, false, false);
}

// The node after a block collection's `:` or `-` (the cursor just past it),
// then on to the next content. `column`: the collection's.
template <bool kPlaces>
bool DirectTape<kPlaces>::block_value(std::int64_t column, bool in_mapping) {
    const std::size_t empty_at = p_;  // an empty node's place
    skip_spaces();
    if (!end() && !is_break(s_[p_]) && s_[p_] != '#') return inline_value(column, !in_mapping, false);
    if (!end() && s_[p_] == '#' && s_[p_ - 1] != ' ') return false;
    // Nothing more on this line: the node starts on a later one, or is empty.
    if (!to_content()) return false;
    if (end() || marker_here()) {
        push_null_at(empty_at);
        return true;
    }
    if (here() > column) return later_line_node(column);
    if (in_mapping && here() == column && entry_here()) {
        return nested([&] { return block_sequence(column, true); });
    }
    push_null_at(empty_at);
    return true;
}

// A node that starts on the line of its `:` or `-`, at the cursor.
template <bool kPlaces>
bool DirectTape<kPlaces>::inline_value(std::int64_t column, bool in_sequence, bool anchored, std::string_view tag) {
    const unsigned char c = s_[p_];
    switch (c) {
        case '&': return anchored ? false : anchored_value(column, in_sequence);
        case '*': return anchored ? false : alias() && after_inline_value(column);
        case '!': return anchored ? false : tagged_value(column, in_sequence, false, 0);
        case '[':
        case '{':
            return open_tagged_collection(tag) && flow_collection(column) && after_inline_value(column);
        case '|':
        case '>': return block_scalar(column, c == '>', tag);
        case '-':
            if (space_break_or_end(p_ + 1)) {
                // `- - a`: a sequence in a sequence entry.
                if (!in_sequence || anchored) return false;
                const std::int64_t inner = here();
                return nested([&] { return block_sequence(inner, false); });
            }
            break;
        default: break;
    }
    const bool quoted = c == '"' || c == '\'';
    if (!quoted && !plain_may_start(false)) return false;
    const std::size_t start = p_;
    const std::uint32_t line = line_;
    const std::size_t line_start = line_start_;
    Scalar scalar;
    bool one_line = quoted ? one_line_quoted(scalar) : one_line_plain<false>(scalar);
    const std::size_t colon = one_line ? colon_at(p_) : n_;
    if (colon != n_) {
        // `- key: value`: a mapping in a sequence entry, at the key's column.
        if (!in_sequence || anchored) return false;
        const std::int64_t inner = static_cast<std::int64_t>(start - line_start_);
        return nested([&] { return block_mapping(inner, &scalar, colon); });
    }
    if (one_line && !quoted) {
        // A plain scalar continues on a later line indented past the
        // collection. Where it does not, the next content has been found
        // already: what after_inline_value would find from the same place.
        if (!to_content()) return false;
        if (end() || marker_here() || here() <= column) return push_scalar(scalar, tag);
        one_line = false;  // read again from its start below
    }
    if (!one_line) {
        p_ = start;
        line_ = line;
        line_start_ = line_start;
        const auto style = quoted ? (c == '"' ? ScalarReader::Style::DoubleQuoted : ScalarReader::Style::SingleQuoted)
                                  : ScalarReader::Style::Plain;
        bool multi_line = false;
        if (!read_scalar(style, column, false, 0, scalar, multi_line)) return false;
    }
    return push_scalar(scalar, tag) && after_inline_value(column);
}

// After a node on the line of its `:` or `-`: on to the next content, which
// must not stand right of the collection (it would be part of the node, or an error).
template <bool kPlaces>
bool DirectTape<kPlaces>::after_inline_value(std::int64_t column) {
    if (!to_content()) return false;
    return end() || marker_here() || here() <= column;
}

// `&name` and its node: on the same line, or a block collection below.
template <bool kPlaces>
bool DirectTape<kPlaces>::anchored_value(std::int64_t column, bool in_sequence) {
    const std::size_t anchor_at = p_;
    const std::size_t start = ++p_;
    while (p_ < n_ && !scan::kNameStop[s_[p_]]) ++p_;
    if (p_ == start) return false;
    const std::string_view name(reinterpret_cast<const char*>(s_) + start, p_ - start);
    if (!space_break_or_end(p_)) return false;
    const std::size_t first = tape_.nodes.size();
    skip_spaces();
    if (!end() && !is_break(s_[p_]) && s_[p_] != '#') {
        if (!inline_value(column, in_sequence, true)) return false;
    } else {
        if (!to_content() || end() || marker_here() || here() <= column) return false;  // an empty node
        if (!block_node(here())) return false;
    }
    if constexpr (kPlaces) place_start(first, anchor_at);
    // Defining a name again replaces the earlier definition, once the node is read.
    if (!anchors_) anchors_.emplace();
    anchors_->insert_or_assign(name, Anchor{first, tape_.nodes.size()});
    ++out_.anchors;
    return true;
}

template <bool kPlaces>
bool DirectTape<kPlaces>::alias() {
    const std::size_t start = ++p_;
    while (p_ < n_ && !scan::kNameStop[s_[p_]]) ++p_;
    if (!anchors_) return false;
    const auto found = anchors_->find(std::string_view(reinterpret_cast<const char*>(s_) + start, p_ - start));
    if (found == anchors_->end()) return false;
    const Anchor anchor = found->second;
    const std::size_t length = anchor.last - anchor.first;
    expanded_nodes_ += length;
    if (expanded_nodes_ > kMaxExpandedNodes) return false;
    // Subtrees record sizes, never positions, so a copy of the nodes is a copy of the tree.
    std::vector<TapeNode>& nodes = tape_.nodes;
    const std::size_t old_size = nodes.size();
    nodes.resize(old_size + length);
    std::memcpy(&nodes[old_size], &nodes[anchor.first], length * sizeof(TapeNode));
    // The copies of nodes that hold an offset hold it too.
    const auto first = std::lower_bound(made_nodes_.begin(), made_nodes_.end(), anchor.first);
    const auto last = std::lower_bound(first, made_nodes_.end(), anchor.last);
    const std::size_t from = static_cast<std::size_t>(first - made_nodes_.begin());
    const std::size_t to = static_cast<std::size_t>(last - made_nodes_.begin());
    for (std::size_t k = from; k < to; ++k) made_nodes_.push_back(made_nodes_[k] - anchor.first + old_size);
    if constexpr (kPlaces) {
        // The copies stand where the anchored node stands; the alias itself ends at its name.
        places_->resize(old_size + length);
        std::copy_n(places_->begin() + static_cast<std::ptrdiff_t>(anchor.first), length,
                    places_->begin() + static_cast<std::ptrdiff_t>(old_size));
        written_end_ = mark_before(p_);
    }
    return true;
}

// A tag as written (`!`, `!name`, `!!name`) at the cursor, followed by a
// space. Verbatim tags, named handles (which need a %TAG directive, so they
// are errors here) and a tag with nothing after it on its line are left to
// the token-list path.
template <bool kPlaces>
bool DirectTape<kPlaces>::read_tag(std::string_view& tag) {
    const std::size_t start = p_++;
    while (p_ < n_ && !scan::kTagStop[s_[p_]]) ++p_;
    tag = std::string_view(reinterpret_cast<const char*>(s_) + start, p_ - start);
    if (tag.size() >= 2 && tag[1] == '<') return false;
    const std::size_t named = tag.find('!', tag.substr(0, 2) == "!!" ? 2 : 1);
    if (named != std::string_view::npos) return false;
    if (byte(p_) != ' ') return false;
    skip_spaces();
    return !end() && !is_break(s_[p_]) && s_[p_] != '#';
}

// A tag and its node on the same line: a scalar or a flow collection (with a
// block parent at `column`, or inside a flow collection when `flow`).
template <bool kPlaces>
bool DirectTape<kPlaces>::tagged_value(std::int64_t column, bool in_sequence, bool flow, std::int64_t flow_indent) {
    const std::size_t tag_at = p_;
    const std::size_t first = tape_.nodes.size();
    std::string_view tag;
    if (!read_tag(tag)) return false;
    const unsigned char c = s_[p_];
    if (c == '&' || c == '*' || c == '!') return false;  // more properties, or an error
    bool ok = false;
    if (!flow) {
        ok = inline_value(column, in_sequence, true, tag);
    } else if (c == '[' || c == '{') {
        ok = open_tagged_collection(tag) && flow_collection(flow_indent);
    } else {
        Scalar scalar;
        ok = flow_scalar(flow_indent, false, scalar) && push_scalar(scalar, tag);
    }
    if constexpr (kPlaces) {
        if (ok) place_start(first, tag_at);
    }
    return ok;
}

// Before a collection under `tag` (if any): a custom tag goes ahead of it on
// the tape; core tags on collections leave no trace.
template <bool kPlaces>
bool DirectTape<kPlaces>::open_tagged_collection(std::string_view tag) {
    if (!tag.empty() && tag.substr(0, 2) != "!!") {
        tape_.push_text(TapeNode::Kind::Tagged, tag);
        if constexpr (kPlaces) place_new_nodes(Mark{}, written_end_, ScalarStyle::Plain);  // set by the caller's place_start
    }
    return true;
}

// `|` or `>` with its body; the scanner's reader ends it at a line start.
template <bool kPlaces>
bool DirectTape<kPlaces>::block_scalar(std::int64_t column, bool fold, std::string_view tag) {
    Scalar scalar;
    bool multi_line = false;
    const auto style = fold ? ScalarReader::Style::Folded : ScalarReader::Style::Literal;
    if (!read_scalar(style, column, false, 0, scalar, multi_line) || !push_scalar(scalar, tag)) return false;
    if (p_ != line_start_ && !end()) return false;
    if (!lines_to_content()) return false;
    return end() || marker_here() || here() <= column;
}

// ---------------------------------------------------------------------------
// Flow collections

// `flow_indent`: the column of the block collection around it (-1 at the top).
template <bool kPlaces>
bool DirectTape<kPlaces>::flow_collection(std::int64_t flow_indent) {
    if (s_[p_] == '[') return nested([&] { return flow_sequence(flow_indent); });
    return nested([&] { return flow_mapping(flow_indent); });
}

template <bool kPlaces>
bool DirectTape<kPlaces>::flow_sequence(std::int64_t flow_indent) {
    const std::size_t header = open(TapeNode::Kind::Sequence);
    ++p_;
    std::uint64_t count = 0;
    if (!flow_space(flow_indent)) return false;
    while (s_[p_] != ']') {
        if (!flow_value(flow_indent)) return false;
        ++count;
        if (!flow_separator(flow_indent, ']')) return false;  // `[a: 1]` and the like, or an error
    }
    ++p_;
    close(header, count, true);
    return true;
}

template <bool kPlaces>
bool DirectTape<kPlaces>::flow_mapping(std::int64_t flow_indent) {
    const std::size_t header = open(TapeNode::Kind::Mapping);
    ++p_;
    std::uint64_t count = 0;
    std::optional<std::unordered_set<std::string>> identities;
    if (options_.duplicate_keys_error || options_.duplicate_keys_warn) identities.emplace();
    std::unordered_set<std::string>* seen = identities ? &*identities : nullptr;
    if (!flow_space(flow_indent)) return false;
    while (s_[p_] != '}') {
        const std::size_t key_node = tape_.nodes.size();
        Scalar key;
        if (!flow_scalar(flow_indent, true, key)) return false;
        // The `:` on the key's line: right after a quoted key, else before a space, break or indicator.
        skip_spaces();
        if (byte(p_) != ':') return false;
        const unsigned char next = byte(p_ + 1);
        if (next == ' ') {
            p_ += 2;  // the common `key: value`: flow_space's first step taken
            if (!(p_ < n_ && s_[p_] > ' ' && s_[p_] != '#') && !skip_flow_space(flow_indent)) return false;
        } else {
            if (key.plain && !(space_break_or_end(p_ + 1) || is_flow_indicator(next))) return false;
            ++p_;
            if (!flow_space(flow_indent)) return false;
        }
        if (!push_scalar(key) || !flow_value(flow_indent)) return false;
        if (seen != nullptr && !check_key(seen, key_node, key)) return false;
        ++count;
        if (!flow_separator(flow_indent, '}')) return false;
    }
    ++p_;
    close(header, count, true);
    return true;
}

// An item or a value in a flow collection: a nested collection or a scalar.
template <bool kPlaces>
inline bool DirectTape<kPlaces>::flow_value(std::int64_t flow_indent) {
    if (s_[p_] == '[' || s_[p_] == '{') return flow_collection(flow_indent);
    if (s_[p_] == '!') return tagged_value(0, false, true, flow_indent);
    Scalar scalar;
    return flow_scalar(flow_indent, false, scalar) && push_scalar(scalar);
}

// What follows an entry of a flow collection: a `,` or its closing bracket.
template <bool kPlaces>
inline bool DirectTape<kPlaces>::flow_separator(std::int64_t flow_indent, unsigned char closing) {
    // Most entries end right at `, ` and the next entry, or at the closing bracket.
    if (p_ + 2 < n_) {
        const unsigned char c = s_[p_];
        if (c == closing) return true;
        if (c == ',' && s_[p_ + 1] == ' ' && s_[p_ + 2] > ' ' && s_[p_ + 2] != '#') {
            p_ += 2;
            return true;
        }
    }
    return flow_separator_spaced(flow_indent, closing);
}

template <bool kPlaces>
bool DirectTape<kPlaces>::flow_separator_spaced(std::int64_t flow_indent, unsigned char closing) {
    if (!flow_space(flow_indent)) return false;
    if (s_[p_] != ',') return s_[p_] == closing;
    ++p_;
    return flow_space(flow_indent);
}

// A scalar in a flow collection: one-line plain, or quoted on one line or more.
template <bool kPlaces>
inline bool DirectTape<kPlaces>::flow_scalar(std::int64_t flow_indent, bool key, Scalar& scalar) {
    const unsigned char c = s_[p_];
    if (c == '"' || c == '\'') return flow_quoted(flow_indent, key, scalar);
    if (!plain_may_start(true) || !one_line_plain<true>(scalar)) return false;
    // One ending at its line's end may continue on the next: left to the token-list path.
    return plain_stop_ < n_ && !is_break(s_[plain_stop_]);
}

template <bool kPlaces>
bool DirectTape<kPlaces>::flow_quoted(std::int64_t flow_indent, bool key, Scalar& scalar) {
    const unsigned char c = s_[p_];
    const std::size_t start = p_;
    if (one_line_quoted(scalar)) return true;
    if (key) return false;  // a multi-line implicit key
    p_ = start;
    bool multi_line = false;
    const auto style = c == '"' ? ScalarReader::Style::DoubleQuoted : ScalarReader::Style::SingleQuoted;
    return read_scalar(style, flow_indent, true, flow_indent, scalar, multi_line);
}

// ---------------------------------------------------------------------------
// Scalars

// At `-`, `?` or `.`: whether they start a plain scalar rather than an
// indicator or a document marker (in flow context when `flow`).
template <bool kPlaces>
inline bool DirectTape<kPlaces>::plain_may_start_at_indicator(bool flow) const noexcept {
    if (marker_here()) return false;
    if (s_[p_] == '.') return true;
    const unsigned char next = byte(p_ + 1);
    if (p_ + 1 >= n_ || next == ' ' || next == '\t' || is_break(next)) return false;
    return !(flow && is_flow_indicator(next));
}

// A plain scalar's content on the cursor's line; the cursor ends just past
// it. False where it stops at a byte the rules here leave to the token-list path.
template <bool kPlaces>
template <bool kFlow>
inline bool DirectTape<kPlaces>::one_line_plain(Scalar& scalar) {
    constexpr bool flow = kFlow;
    scalar.start = p_;
    scalar.line = line_;
    scalar.line_start = line_start_;
    scalar.plain = true;
    unsigned high = 0;  // non-ASCII bytes are content like any other here
    std::size_t q = p_;
    for (;;) {
        q = scan::detail::plain_stop<true>(s_, q, n_, flow, high);
        if (q >= n_) break;
        const unsigned char c = s_[q];
        if (c == ':') {
            if (q + 1 >= n_) break;
            const unsigned char next = s_[q + 1];
            if (next == ' ' || next == '\t' || is_break(next) || (flow && is_flow_indicator(next))) break;
        } else if (c == '#') {
            if (s_[q - 1] == ' ' || s_[q - 1] == '\t') break;
        } else {
            break;
        }
        ++q;
    }
    plain_stop_ = q;
    // The scalar's first byte is no stop, so q > p_. Blanks before the stop are rare.
    std::size_t e = q;
    if (s_[e - 1] == ' ' || s_[e - 1] == '\t') {
        do --e;
        while (e > p_ && (s_[e - 1] == ' ' || s_[e - 1] == '\t'));
        if (s_[e] == '\t') return false;  // a tab among the blanks after it
    }
    scalar.text = std::string_view(reinterpret_cast<const char*>(s_) + p_, e - p_);
    scalar.read = false;
    p_ = e;
    return true;
}

// A quoted scalar without escapes and on one line: a slice of the text. False otherwise.
template <bool kPlaces>
bool DirectTape<kPlaces>::one_line_quoted(Scalar& scalar) {
    const unsigned char quote = s_[p_];
    scalar.start = p_;
    scalar.line = line_;
    scalar.line_start = line_start_;
    scalar.plain = false;
    unsigned high = 0;
    const std::size_t q = scan::find_quote_stop(s_, p_ + 1, n_, quote, quote == '"' ? '\\' : '\'', high);
    quote_start_ = p_;
    quote_run_end_ = q;
    quote_run_high_ = high != 0;
    if (q >= n_ || s_[q] != quote || (quote == '\'' && byte(q + 1) == '\'')) return false;
    scalar.text = std::string_view(reinterpret_cast<const char*>(s_) + p_ + 1, q - p_ - 1);
    scalar.read = false;
    p_ = q + 1;
    return true;
}

// A scalar through the scanner's reader, from the cursor; the cursor ends past it.
template <bool kPlaces>
bool DirectTape<kPlaces>::read_scalar(ScalarReader::Style style, std::int64_t indent, bool flow, std::int64_t flow_indent,
                             Scalar& scalar, bool& multi_line) {
    scalar.start = p_;
    scalar.line = line_;
    scalar.line_start = line_start_;
    scalar.plain = style == ScalarReader::Style::Plain;
    ScalarReader::Place at{p_, line_, char_column(line_start_, p_)};
    const bool searched = quote_start_ == p_ && quote_run_end_ > p_;
    if (!scalars_) scalars_.emplace(std::string_view(reinterpret_cast<const char*>(s_), n_), file_id_);
    if (!scalars_->read(style, at, indent, flow, flow_indent, scalar.text, multi_line, scalar.made,
                       searched ? quote_run_end_ : 0, quote_run_high_))
        return false;
    scalar.end = scalars_->source_end();
    scalar.read = true;
    p_ = at.pos;
    if (at.line != line_) {
        line_ = at.line;
        line_start_ = line_start_of(p_);
    }
    if constexpr (kPlaces) {
        // The reader stops at the scalar's end or a few breaks after it.
        const LineAt end = line_before(scalar.end);
        scalar.end_line = end.line;
        scalar.end_line_start = end.start;
    }
    return true;
}

// Where a scalar ends: on its first line, unless the scalar reader read it.
template <bool kPlaces>
Mark DirectTape<kPlaces>::scalar_end(const Scalar& scalar) noexcept {
    if (scalar.read) return {scalar.end, scalar.end_line, place_column(scalar.end_line_start, scalar.end)};
    const std::size_t end = scalar.start + scalar.text.size() + (scalar.plain ? 0 : 2);
    return {end, scalar.line, place_column(scalar.line_start, end)};
}

// How a scalar was written, from its first byte.
template <bool kPlaces>
ScalarStyle DirectTape<kPlaces>::scalar_style(const Scalar& scalar) const noexcept {
    if (scalar.plain) return ScalarStyle::Plain;
    switch (s_[scalar.start]) {
        case '\'': return ScalarStyle::SingleQuoted;
        case '"': return ScalarStyle::DoubleQuoted;
        case '|': return ScalarStyle::Literal;
        default: return ScalarStyle::Folded;
    }
}

template <bool kPlaces>
auto DirectTape<kPlaces>::line_before(std::size_t pos) const noexcept -> LineAt {
    if (pos >= line_start_) return {line_, line_start_};
    // Breaks as the scanner counts them: `\n`, `\r\n` or a lone `\r`.
    std::uint32_t line = line_;
    for (std::size_t q = pos; q < line_start_; ++q) {
        if (s_[q] == '\n' || (s_[q] == '\r' && (q + 1 >= n_ || s_[q + 1] != '\n'))) --line;
    }
    return {line, line_start_of(pos)};
}

// The start of the line `pos` is on: just past the last break before it (a
// line feed, or a lone carriage return after the last line feed).
template <bool kPlaces>
std::size_t DirectTape<kPlaces>::line_start_of(std::size_t pos) const noexcept {
    const auto* lf = static_cast<const unsigned char*>(memrchr(s_, '\n', pos));
    const std::size_t after_lf = lf == nullptr ? 0 : static_cast<std::size_t>(lf - s_) + 1;
    const auto* cr = static_cast<const unsigned char*>(memrchr(s_ + after_lf, '\r', pos - after_lf));
    return cr == nullptr ? after_lf : static_cast<std::size_t>(cr - s_) + 1;
}

// Where a block mapping's `:` (after spaces) stands from `q` on, else the end.
template <bool kPlaces>
std::size_t DirectTape<kPlaces>::colon_at(std::size_t q) const noexcept {
    while (q < n_ && s_[q] == ' ') ++q;
    return q < n_ && s_[q] == ':' && space_break_or_end(q + 1) ? q : n_;
}

// A plain scalar without properties that may be other than a string, resolved as the decoder does.
template <bool kPlaces>
bool DirectTape<kPlaces>::push_resolved_by_mode(const Scalar& scalar) {
    const std::string_view text = scalar.text;
    if (options_.yaml11_warnings) {
        if (auto diff = version_difference(options_.mode, text, true, std::nullopt)) {
            out_.warnings.push_back(
                version_warning(text, *diff, scalar.line, char_column(scalar.line_start, scalar.start)));
        }
    }
    // Merge keys are left to the token-list path.
    if (!push_resolved_scalar(tape_, resolve(options_.mode, text, true, std::nullopt), text)) return false;
    note_if_made(scalar);
    return true;
}

template <bool kPlaces>
void DirectTape<kPlaces>::finish() {
    if (scalars_) out_.tokens = scalars_->take_texts();
    if (made_nodes_.empty()) return;
    const char* const made = out_.tokens->made_texts().data();
    for (const std::size_t i : made_nodes_) tape_.nodes[i].text = made + tape_.nodes[i].span;
}

// Without directives, a tag written `!name` (or `!`) is its own full form, a
// custom tag: the text goes under it as a str. One written `!!name` is a
// core tag in tag:yaml.org,2002:, which decides how the text resolves.
template <bool kPlaces>
bool DirectTape<kPlaces>::push_tagged_value(const Scalar& scalar, std::string_view tag) {
    if (tag.substr(0, 2) != "!!") {
        tape_.push_text(TapeNode::Kind::Tagged, tag);
        tape_.push_text(TapeNode::Kind::String, scalar.text);
        if (scalar.made != ScalarReader::kNotMade) note_made(scalar.made);
        return true;
    }
    const std::string full = std::string(kCoreTagPrefix) + std::string(tag.substr(2));
    const std::string_view text = scalar.text;
    if (options_.yaml11_warnings) {
        if (auto diff = version_difference(options_.mode, text, scalar.plain, full)) {
            out_.warnings.push_back(
                version_warning(text, *diff, scalar.line, char_column(scalar.line_start, scalar.start)));
        }
    }
    // A merge key by its tag is left to the token-list path.
    if (!push_resolved_scalar(tape_, resolve(options_.mode, text, scalar.plain, full), text)) return false;
    note_if_made(scalar);
    return true;
}

// The duplicate-key policy for the entry whose key is at `key_node`.
template <bool kPlaces>
bool DirectTape<kPlaces>::check_key(std::unordered_set<std::string>* seen, std::size_t key_node, const Scalar& key) {
    const Value key_value = tape_value(tape_, key_node);
    if (seen->insert(key_identity(key_value)).second) return true;
    if (options_.duplicate_keys_error) return false;  // the token-list path raises it
    out_.warnings.push_back(
        duplicate_key_warning(key_value, key.line, char_column(key.line_start, key.start)));
    return true;
}

}  // namespace

// The reader with places, instantiated in a unit of its own.
bool read_placed(std::string_view text, std::uint32_t file_id, const DecodeOptions& options, DecodedTape& out,
                 std::vector<TapePlace>& places);

}  // namespace torvex::direct
