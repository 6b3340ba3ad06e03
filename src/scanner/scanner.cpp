// Structure tokens: whitespace and comments, block indentation, flow nesting,
// indicators, implicit keys, documents and directives.
#include "scanner/scanner.hpp"

#include <algorithm>
#include <limits>

#include "core/unicode_space.hpp"
#include "scanner/indent_messages.hpp"
#include "scanner/scanner_state.hpp"

namespace torvex {

using scan::is_blank;
using scan::is_bracket;
using scan::is_break;
using scan::is_flow_indicator;

using messages::kTabIndent;

Scanner::Scanner(std::string_view text, std::uint32_t file_id, bool record_comments, bool token_records)
    : reader_(text, file_id), out_(text, file_id), arena_(out_.arena_), record_comments_(record_comments) {
    out_.arena_ = SpareText::take();
    if (!token_records) return;
    out_.tokens_ = SpareBuffer<Token>::take();
    out_.tokens_.reserve(std::clamp<std::size_t>(text.size() / 8, 8, 65536));
}

Result<TokenList> Scanner::run() {
    while (!ended_)
        if (!fetch()) return std::move(*error_);
    release_candidate();
    // The initial reservation suits token-dense text; give back what a sparse
    // one (long block scalars, long strings) left unused.
    // (Only when most of it is unused: then there are few tokens to copy;
    // and not a buffer small enough to be kept as the thread's spare.)
    const std::size_t capacity = out_.tokens_.capacity();
    if (!SpareBuffer<Token>::fits(capacity) && capacity > 2 * out_.tokens_.size() + 1024) {
        out_.tokens_.shrink_to_fit();
    }
    if (!SpareText::fits(arena_.capacity())) out_.shrink_texts();
    return std::move(out_);
}

bool Scanner::fail(std::string message, const Span& at) {
    error_ = Error::at(ErrorKind::Syntax, std::move(message), at);
    return false;
}

void Scanner::reserve_tokens(std::size_t more) {
    // Extrapolate the token density seen so far over the whole text (plus an
    // eighth), but grow by at least a quarter: few reallocations, little slack.
    const std::size_t size = out_.tokens_.size();
    const double done = static_cast<double>(std::max<std::size_t>(reader_.pos, 1));
    const auto estimate =
        static_cast<std::size_t>(static_cast<double>(size) * static_cast<double>(reader_.length) / done * 1.125);
    out_.tokens_.reserve(std::max({estimate, size + size / 4, size + more}) + 16);
}

void Scanner::set_long_slice(Token& t, std::size_t text_pos, std::size_t length, std::uint64_t end) {
    TORVEX_CHECK(out_.owned_.size() < std::numeric_limits<std::uint32_t>::max(), "owned-text table full");
    t.storage = TextStorage::Table;
    t.data = static_cast<std::uint32_t>(out_.owned_.size());
    out_.owned_.push_back({text_pos, length, end, true});
}

void Scanner::set_owned(Token& t, std::size_t arena_pos, std::uint64_t end) {
    TORVEX_CHECK(out_.owned_.size() < std::numeric_limits<std::uint32_t>::max(), "owned-text table full");
    t.storage = TextStorage::Table;
    t.data = static_cast<std::uint32_t>(out_.owned_.size());
    out_.owned_.push_back({arena_pos, arena_.size() - arena_pos, end, false});
}

// ---------------------------------------------------------------------------
// Fetching one token

bool Scanner::fetch() {
    if (!started_) {
        started_ = true;
        queue(make_here(TokenKind::StreamStart));
        return true;
    }
    const std::uint32_t line_before = reader_.line;
    if (!skip_to_token()) return false;

    if (flow_level_ > 0) {
        // At the end of the text the unclosed bracket is the fault to report.
        if (reader_.at_end()) return fail("unclosed flow collection at end of input", reader_.mark());
        if (reader_.line != line_before && static_cast<std::int64_t>(reader_.column) <= flow_start_indent_)
            return fail("flow content must be indented more than its block context", reader_.mark());
    } else {
        closed_level_ = false;
        dedent(reader_.column);
        // A sequence ends when something other than an entry appears at its column.
        if (is_sequence_ && static_cast<std::int64_t>(reader_.column) == indent_ &&
            !(reader_.byte() == '-' && !reader_.at_end() && reader_.blank_break_or_end_at(1))) {
            // Nothing but an entry can stand at a sequence's column: `-x` there is one missing its space.
            if (reader_.byte() == '-' && !reader_.at_end() && !reader_.document_marker())
                return fail("a sequence entry needs a space after '-'", reader_.mark());
            queue(make_here(TokenKind::BlockEnd));
            indent_ = indent_stack_.back().indent;
            is_sequence_ = indent_stack_.back().is_sequence;
            indent_stack_.pop_back();
        }
    }

    if (reader_.at_end()) {
        if (flow_level_ > 0) return fail("unclosed flow collection at end of input", reader_.mark());
        if (misplaced_property_) return property_unresolved();
        release_candidate();
        dedent(-1);
        ended_ = true;
        queue(make_here(TokenKind::StreamEnd));
        return true;
    }
    return flow_level_ > 0 ? dispatch_flow() : dispatch_block();
}

bool Scanner::skip_to_token() {
    tab_flag_ = false;
    const unsigned char* const text = reader_.text;
    const std::size_t length = reader_.length;
    for (;;) {
        // Runs of spaces (indentation, mostly) in one tight loop.
        std::size_t p = reader_.pos;
        while (p < length && text[p] == ' ') ++p;
        reader_.column += static_cast<std::uint32_t>(p - reader_.pos);
        reader_.pos = p;
        if (p >= length) return true;
        const unsigned char c = text[p];
        if (c > '#') return true;  // the usual case: the token starts here
        if (c == '\t') {
            if (flow_level_ == 0) {
                tab_flag_ = true;
            } else if (reader_.column == 0 && !tab_may_start_flow_line()) {
                return false;
            }
            reader_.advance_ascii(1);
        } else if (is_break(c)) {
            if (misplaced_property_) [[unlikely]]
                return property_unresolved();
            reader_.consume_break();
            start_marker_line_ = false;
            tab_flag_ = false;
            if (candidate_ && candidate_->at.line != reader_.line) release_candidate();
            if (flow_level_ == 0) simple_key_allowed_ = true;
        } else if (c == '#') {
            const bool first_char = p == 0 || (reader_.bom && p == 3);
            if (!first_char) {
                const unsigned char before = text[p - 1];
                if (!is_blank(before) && !is_break(before)) return true;  // glued: the dispatcher rejects it
            }
            skip_comment();
        } else {
            return true;
        }
    }
}

// A tab at the start of a line inside a flow collection is fine only before
// a bracket, a comma or the end of the line.
bool Scanner::tab_may_start_flow_line() {
    const char32_t first = reader_.first_non_blank();
    if (first == scan::kEnd || is_break(first) || is_flow_indicator(first)) return true;
    return fail(kTabIndent, reader_.mark());
}

void Scanner::skip_comment() {
    const Span at = reader_.mark();
    std::size_t p = reader_.pos + 1;
    const std::size_t text_start = p < reader_.length && reader_.text[p] == ' ' ? p + 1 : p;
    std::uint32_t chars = 1;
    while (p < reader_.length && !is_break(reader_.text[p])) {
        if ((reader_.text[p] & 0xC0) != 0x80) ++chars;
        ++p;
    }
    if (record_comments_) {
        std::string_view text(reinterpret_cast<const char*>(reader_.text) + text_start, p - text_start);
        out_.comments_.push_back({trim_end(text), at});
    }
    reader_.pos = p;
    reader_.column = at.column + chars;
}

void Scanner::dedent(std::int64_t column) {
    while (column < indent_) {
        queue(make_here(TokenKind::BlockEnd));
        indent_ = indent_stack_.back().indent;
        is_sequence_ = indent_stack_.back().is_sequence;
        indent_stack_.pop_back();
        closed_level_ = true;
    }
}

bool Scanner::open_block_level(std::uint32_t column, TokenKind kind, const Span& at) {
    if (start_marker_line_) return fail("a block collection cannot start on the same line as ---", at);
    if (indent_ < static_cast<std::int64_t>(column)) {
        indent_stack_.push_back({indent_, is_sequence_});
        indent_ = column;
        is_sequence_ = kind == TokenKind::SequenceStart;
        queue(make(kind, at));
    }
    return true;
}

void Scanner::save_candidate(const Span& at) {
    if (flow_level_ == 0 && simple_key_allowed_ && !candidate_) candidate_ = Candidate{queue_.size(), at, tab_flag_, false};
}

// ---------------------------------------------------------------------------
// Dispatch

bool Scanner::dispatch_block() {
    const unsigned char c = reader_.byte();
    const bool column0 = reader_.column == 0;
    if (c != '!' && c != '&') indent_properties_ = false;
    if (!(c == '%' && column0)) directives_allowed_ = false;
    const bool after_entry = previous_was_entry_;
    previous_was_entry_ = false;

    switch (c) {
        case '!': return fetch_tag();
        case '"': return fetch_quoted(true);
        case '\'': return fetch_quoted(false);
        case '#': return fail("a comment must be preceded by whitespace", reader_.mark());
        case '%': return column0 ? fetch_directive() : fetch_plain();
        case '&': return fetch_anchor_or_alias(false);
        case '*': return fetch_anchor_or_alias(true);
        case ',': return fail("a plain scalar cannot start with ','", reader_.mark());
        case '-':
            if (reader_.next_is_blank_break_or_end()) return fetch_block_entry(after_entry);
            if (reader_.document_marker()) return fetch_document_start();
            return fetch_plain();
        case '.':
            if (reader_.document_marker()) return fetch_document_end();
            return fetch_plain();
        case ':':
            if (reader_.next_is_blank_break_or_end()) return fetch_value();
            return fetch_plain();
        case '?':
            if (reader_.next_is_blank_break_or_end()) return fetch_key();
            return fetch_plain();
        case '|': return fetch_block_scalar(false);
        case '>': return fetch_block_scalar(true);
        case '@':
        case '`': return fail(std::string("'") + static_cast<char>(c) + "' is a reserved indicator and cannot start a plain scalar", reader_.mark());
        case '[':
        case '{': return fetch_flow_start();
        case ']':
        case '}': return fail(std::string("unexpected '") + static_cast<char>(c) + "' with no open flow collection", reader_.mark());
        default: return fetch_plain();
    }
}

bool Scanner::dispatch_flow() {
    const unsigned char c = reader_.byte();
    const Span at = reader_.mark();
    if (reader_.document_marker()) return fail("a document marker is not allowed inside a flow collection", at);

    // `-`, `?` and `:` are indicators when followed by a blank, a break, `,`, a bracket or the end.
    const bool indicator_follows =
        !reader_.has(1) || is_blank(reader_.byte(1)) || is_break(reader_.byte(1)) || is_flow_indicator(reader_.byte(1));
    if (entry_complete_) {
        bool continues = false;
        switch (c) {
            case '#':
            case ',':
            case ':':
            case ']':
            case '}': continues = true; break;
            case '-':
            case '?': continues = indicator_follows; break;
            default: break;
        }
        if (!continues) return fail("missing ',' between flow collection entries", at);
        if (c == ':' && !explicit_key_ && !flow_stack_.back() && reader_.line != entry_line_)
            return fail("the implicit key of a flow sequence pair must be on one line", at);
    }
    const bool adjacent = adjacent_value_;
    adjacent_value_ = false;

    switch (c) {
        case '!': return fetch_tag();
        case '"': return fetch_quoted(true);
        case '\'': return fetch_quoted(false);
        case '#': return fail("a comment must be preceded by whitespace", at);
        case '&': return fetch_anchor_or_alias(false);
        case '*': return fetch_anchor_or_alias(true);
        case ',': return fetch_flow_entry();
        case '-':
            if (!indicator_follows) return fetch_plain();
            return fail("a plain scalar cannot be a bare '-' here", at);
        case ':':
            if (!adjacent && !indicator_follows) return fetch_plain();
            return fetch_value();
        case '?':
            if (!indicator_follows) return fetch_plain();
            return fetch_key();
        case '@':
        case '`': return fail(std::string("'") + static_cast<char>(c) + "' is a reserved indicator and cannot start a plain scalar", at);
        case '[':
        case '{': return fetch_flow_start();
        case ']':
        case '}': return fetch_flow_end();
        default: return fetch_plain();
    }
}

// ---------------------------------------------------------------------------
// Block indicators

bool Scanner::fetch_block_entry(bool after_entry) {
    const Span at = reader_.mark();
    if (tab_flag_) return fail(kTabIndent, at);
    if (key_line_ == at.line) return fail("a block sequence cannot start on the same line as its mapping key", at);
    if (property_line_ == at.line)
        return fail("a block sequence entry cannot follow an anchor or tag on the same line", at);
    if (indent_ < static_cast<std::int64_t>(at.column) && is_sequence_ && !after_entry && closed_level_)
        return fail("a sequence entry is indented past its sequence", at);
    if (!roll_in(at.column, TokenKind::SequenceStart, at)) return false;
    reader_.advance_ascii(1);
    if (reader_.byte() == ' ') reader_.advance_ascii(1);
    simple_key_allowed_ = true;
    previous_was_entry_ = true;
    queue(make(TokenKind::SequenceEntry, at));
    return true;
}

bool Scanner::fetch_key() {
    const Span at = reader_.mark();
    const bool block = flow_level_ == 0;
    if (block) {
        if (tab_flag_) return fail(kTabIndent, at);
        if (!roll_in(at.column, TokenKind::MappingStart, at)) return false;
    }
    reader_.advance_ascii(1);
    if (block && reader_.byte() == '\t' && !reader_.at_end()) return fail(kTabIndent, reader_.mark());
    if (reader_.byte() == ' ') reader_.advance_ascii(1);
    simple_key_allowed_ = true;
    entry_complete_ = false;
    if (!block) explicit_key_ = true;
    queue(make(TokenKind::Key, at));
    return true;
}

bool Scanner::fetch_value() {
    const Span at = reader_.mark();
    const bool block = flow_level_ == 0;
    if (block) {
        const std::optional<Candidate> cand = candidate_;
        if (cand && cand->at.line == at.line) {
            if (cand->tab) return fail(kTabIndent, at);
            Token inserted[2] = {make(TokenKind::MappingStart, cand->at), make(TokenKind::Key, cand->at)};
            const bool opens = indent_ < static_cast<std::int64_t>(cand->at.column);
            if (opens) {
                indent_stack_.push_back({indent_, is_sequence_});
                indent_ = cand->at.column;
                is_sequence_ = false;
            }
            Token* first = opens ? inserted : inserted + 1;
            if (cand->spilled) {
                auto& list = out_.tokens_;
                list.insert(list.begin() + static_cast<std::ptrdiff_t>(cand->index), first, inserted + 2);
            } else {
                std::size_t index = cand->index;
                for (const Token* t = first; t != inserted + 2; ++t) queue_.insert(index++, *t);
            }
            key_line_ = at.line;
            if (misplaced_property_ && misplaced_property_->line == at.line) misplaced_property_.reset();
            release_candidate();
        } else {
            release_candidate();
            if (!roll_in(at.column, TokenKind::MappingStart, at)) return false;
        }
    }
    reader_.advance_ascii(1);
    if (reader_.byte() == ' ') reader_.advance_ascii(1);
    simple_key_allowed_ = true;
    entry_complete_ = false;
    explicit_key_ = false;
    if (block) indent_properties_ = true;
    queue(make(TokenKind::Value, at));
    return true;
}

// ---------------------------------------------------------------------------
// Flow collections

bool Scanner::fetch_flow_start() {
    const Span at = reader_.mark();
    const bool mapping = reader_.byte() == '{';
    if (flow_level_ == kMaxFlowDepth)
        return fail("maximum nesting depth (" + std::to_string(kMaxFlowDepth) + ") exceeded", at);
    if (flow_level_ == 0) {
        flow_start_ = at;
        flow_start_indent_ = indent_;
        save_candidate(at);
    }
    reader_.advance_ascii(1);
    ++flow_level_;
    flow_stack_.push_back(mapping);
    simple_key_allowed_ = true;
    entry_complete_ = false;
    explicit_key_ = false;
    Token t = make(mapping ? TokenKind::MappingStart : TokenKind::SequenceStart, at);
    t.style = 1;
    queue(t);
    return true;
}

bool Scanner::fetch_flow_end() {
    const Span at = reader_.mark();
    const char close = static_cast<char>(reader_.byte());
    const bool mapping = close == '}';
    reader_.advance_ascii(1);
    --flow_level_;
    const bool was_mapping = flow_stack_.back();
    flow_stack_.pop_back();
    if (was_mapping != mapping)
        return fail(std::string("mismatched flow collection: '") + close + "' cannot close a '" +
                        (was_mapping ? '{' : '[') + "'",
                    at);
    simple_key_allowed_ = false;
    entry_complete_ = true;
    entry_line_ = at.line;
    adjacent_value_ = true;
    queue(make(mapping ? TokenKind::MappingEnd : TokenKind::SequenceEnd, at));
    if (flow_level_ == 0) {
        const char32_t next = reader_.first_non_blank();
        if (!(next == scan::kEnd || is_break(next) || next == '#' || next == ':'))
            return fail("unexpected content after flow collection", reader_.mark());
        if (next == ':' && flow_start_.line != at.line)
            return fail("a multiline flow collection cannot be an implicit mapping key", flow_start_);
    }
    return true;
}

bool Scanner::fetch_flow_entry() {
    const Span at = reader_.mark();
    // Only a `,` with nothing at all before it is stray: `{a: , b}` and `[!!str , b]` hold empty nodes.
    if (last_kind_ == TokenKind::FlowEntry || last_kind_ == TokenKind::MappingStart ||
        last_kind_ == TokenKind::SequenceStart)
        return fail("empty flow entry (stray ',')", at);
    reader_.advance_ascii(1);
    simple_key_allowed_ = true;
    entry_complete_ = false;
    explicit_key_ = false;
    queue(make(TokenKind::FlowEntry, at));
    return true;
}

// ---------------------------------------------------------------------------
// Documents and directives

bool Scanner::fetch_document_start() {
    const Span at = reader_.mark();
    dedent(-1);
    reader_.advance_ascii(3);
    simple_key_allowed_ = false;
    start_marker_line_ = true;
    queue(make(TokenKind::DocumentStart, at));
    return true;
}

bool Scanner::fetch_document_end() {
    const Span at = reader_.mark();
    dedent(-1);
    reader_.advance_ascii(3);
    const char32_t next = reader_.first_non_blank();
    if (!(next == scan::kEnd || is_break(next) || next == '#')) {
        reader_.skip_blanks();
        return fail("unexpected content after document-end marker (...)", reader_.mark());
    }
    simple_key_allowed_ = false;
    directives_allowed_ = true;
    queue(make(TokenKind::DocumentEnd, at));
    return true;
}

bool Scanner::fetch_directive() {
    Token t = make_here(TokenKind::Directive);
    if (!directives_allowed_)
        return fail("a directive must start the stream or follow a document-end marker (...)", reader_.mark());
    reader_.advance_ascii(1);
    const std::size_t start = reader_.pos;
    while (!reader_.at_break_or_end()) reader_.advance();
    set_slice(t, start, reader_.pos - start, t.offset);
    simple_key_allowed_ = false;
    queue(t);
    return true;
}

// ---------------------------------------------------------------------------
// Properties and aliases

// A property at or left of the mapping's indentation after `key:` cannot
// belong to that key's value. It is still fine when it starts the next key
// (`k:` then `&a j: 1`), which the `:` later on the same line shows; so the
// error waits for the end of the line (see property_unresolved).
bool Scanner::check_property_indent(const Span& at) {
    if (flow_level_ == 0 && indent_properties_ && indent_ >= static_cast<std::int64_t>(at.column) &&
        !misplaced_property_)
        misplaced_property_ = at;
    return true;
}

bool Scanner::property_unresolved() {
    return fail("a node property must be indented past its mapping key", *misplaced_property_);
}

bool Scanner::fetch_anchor_or_alias(bool alias) {
    const Span at = reader_.mark();
    if (!alias && !check_property_indent(at)) return false;
    save_candidate(at);
    if (!alias && flow_level_ == 0) property_line_ = at.line;
    Token t = make(alias ? TokenKind::Alias : TokenKind::Anchor, at);
    reader_.advance_ascii(1);
    const std::size_t start = reader_.pos;
    while (!reader_.at_end() && !scan::kNameStop[reader_.byte()]) reader_.advance();
    if (reader_.pos == start) return fail(alias ? "expected alias name" : "expected anchor name", at);
    set_slice(t, start, reader_.pos - start, t.offset);
    simple_key_allowed_ = false;
    if (alias && flow_level_ > 0) {
        entry_complete_ = true;
        entry_line_ = at.line;
    }
    queue(t);
    return true;
}

bool Scanner::fetch_tag() {
    const Span at = reader_.mark();
    if (!check_property_indent(at)) return false;
    save_candidate(at);
    if (flow_level_ == 0) property_line_ = at.line;
    Token t = make(TokenKind::Tag, at);
    if (reader_.byte(1) == '<' && reader_.has(1)) {
        // Verbatim: `!<` ... `>`; a missing `>` is supplied in the token text.
        reader_.advance_ascii(2);
        while (!reader_.at_break_or_end() && reader_.byte() != '>') reader_.advance();
        if (reader_.byte() == '>' && !reader_.at_end()) {
            reader_.advance_ascii(1);
            set_slice(t, at.offset, reader_.pos - at.offset, t.offset);
        } else {
            const std::size_t arena_pos = arena_.size();
            arena_.append(reinterpret_cast<const char*>(reader_.text) + at.offset, reader_.pos - at.offset);
            arena_.push_back('>');
            set_owned(t, arena_pos, t.offset);
        }
    } else {
        reader_.advance_ascii(1);
        while (!reader_.at_end() && !scan::kTagStop[reader_.byte()]) reader_.advance();
        set_slice(t, at.offset, reader_.pos - at.offset, t.offset);
    }
    simple_key_allowed_ = false;
    queue(t);
    return true;
}

// ---------------------------------------------------------------------------
// Scalars and implicit keys

bool Scanner::fetch_plain() {
    const bool key_allowed = simple_key_allowed_ && !(flow_level_ > 0 && explicit_key_);
    const bool tab_before = tab_flag_;
    Token t{};
    bool multi_line = false;
    if (!scan_plain(t, multi_line)) return false;
    return finish_scalar(t, false, multi_line, key_allowed, tab_before);
}

bool Scanner::fetch_quoted(bool double_quoted) {
    const bool key_allowed = simple_key_allowed_ && !(flow_level_ > 0 && explicit_key_);
    const bool tab_before = tab_flag_;
    Token t{};
    bool multi_line = false;
    if (!(double_quoted ? scan_double_quoted(t, multi_line) : scan_single_quoted(t, multi_line))) return false;
    return finish_scalar(t, true, multi_line, key_allowed, tab_before);
}

bool Scanner::fetch_block_scalar(bool folded) {
    Token t{};
    if (!scan_block_scalar(t, folded)) return false;
    simple_key_allowed_ = true;
    release_candidate();
    queue(t);
    return true;
}

bool Scanner::finish_scalar(Token& scalar, bool quoted, bool multi_line, bool key_allowed, bool tab_before) {
    const bool flow = flow_level_ > 0;
    const Span start{reader_.file_id, scalar.line, scalar.column, scalar.offset};

    // Look past blanks on this line for `:` followed by a blank, a break or the end (in flow also `,` or a bracket).
    std::size_t p = reader_.pos;
    bool colon = false;
    if (key_allowed || (flow && !quoted && multi_line)) {
        while (p < reader_.length && is_blank(reader_.text[p])) ++p;
    }
    if (p < reader_.length && reader_.text[p] == ':') {
        const bool last = p + 1 >= reader_.length;
        const unsigned char n = last ? 0 : reader_.text[p + 1];
        colon = last || is_blank(n) || is_break(n) || (flow && is_flow_indicator(n));
    }
    const std::uint32_t colon_column = reader_.column + static_cast<std::uint32_t>(p - reader_.pos);

    bool key = false;
    if (key_allowed && colon) {
        key = true;
        if (!flow && multi_line) {
            if (!quoted && colon_column < start.column)
                key = false;  // a continuation line left of the scalar: not its key
            else
                return fail("an implicit mapping key cannot span multiple lines", start);
        }
        if (key && flow && !quoted && multi_line && !flow_stack_.back())
            return fail("the implicit key of a flow sequence pair must be on one line", start);
    }

    if (key) {
        if (!flow) {
            if (tab_before) return fail(kTabIndent, start);
            if (!roll_in(start.column, TokenKind::MappingStart, start)) return false;
        }
        queue(make(TokenKind::Key, start));
        queue(scalar);
        if (!flow) {
            key_line_ = reader_.line;
            indent_properties_ = true;
        }
        reader_.advance_ascii(p - reader_.pos);
        const Span at = reader_.mark();
        reader_.advance_ascii(1);
        if (reader_.byte() == ' ' && !reader_.at_end()) reader_.advance_ascii(1);
        queue(make(TokenKind::Value, at));
        entry_complete_ = false;
    } else {
        queue(scalar);
        if (flow) {
            entry_complete_ = true;
            entry_line_ = start.line;
            if (quoted) adjacent_value_ = true;
            if (!quoted && multi_line && !explicit_key_ && colon)
                return fail("missing ',' between flow collection entries", start);
        } else if (quoted) {
            const char32_t next = reader_.first_non_blank();
            if (!(next == scan::kEnd || is_break(next) || next == '#' || next == ':'))
                return fail("unexpected content after quoted scalar", reader_.mark());
        }
    }

    if (quoted) {
        simple_key_allowed_ = false;
    } else {
        simple_key_allowed_ = !flow && multi_line;
        if (multi_line && candidate_ && candidate_->at.line != reader_.line) release_candidate();
    }
    return true;
}

Result<TokenList> tokenize(std::string_view text, std::uint32_t file_id, bool record_comments) {
    Scanner scanner(text, file_id, record_comments);
    return scanner.run();
}

}  // namespace torvex
