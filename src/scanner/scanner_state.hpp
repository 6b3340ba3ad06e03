// The scanner's working state. Internal to src/scanner: structure tokens are
// implemented in scanner.cpp, scalar scanning in scalar.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/error.hpp"
#include "core/result.hpp"
#include "core/utf8_units.hpp"
#include "core/wide_bytes.hpp"
#include "scanner/byte_search.hpp"
#include "scanner/reader.hpp"
#include "scanner/token.hpp"
#include "scanner/token_queue.hpp"

namespace torvex {

class Scanner {
public:
    // `token_records`: false for a scanner that only reads scalars one at a
    // time (ScalarReader), which needs no token list, so takes no spare for one.
    Scanner(std::string_view text, std::uint32_t file_id, bool record_comments, bool token_records = true);
    Result<TokenList> run();

private:
    friend class ScalarReader;  // reads single scalars with this state
    // Drops the owned-text table; the texts stay in the arena.
    void forget_owned() noexcept { out_.owned_.clear(); }

    struct IndentLevel {
        std::int64_t indent;
        bool is_sequence;
    };
    // Where MappingStart/Key go if a `:` follows on the same line: a queue
    // index, or, once the queue has spilled into the list, a list index.
    struct Candidate {
        std::size_t index;
        Span at;
        bool tab;
        bool spilled;
    };
    // A line that keeps a candidate pending for longer than this (one long
    // flow collection, say) moves its tokens to the list instead of growing
    // the queue; a later key is then inserted into the list.
    static constexpr std::size_t kQueueLimit = 1024;

    // --- structure (scanner.cpp) ---
    bool fetch();
    bool skip_to_token();
    void skip_comment();
    [[gnu::noinline]] bool tab_may_start_flow_line();
    bool dispatch_block();
    bool dispatch_flow();
    void dedent(std::int64_t column);
    // Opens a block collection at `column` unless the current level is already there or deeper.
    bool roll_in(std::uint32_t column, TokenKind kind, const Span& at) {
        if (flow_level_ > 0 || (!start_marker_line_ && indent_ >= static_cast<std::int64_t>(column))) return true;
        return open_block_level(column, kind, at);
    }
    bool open_block_level(std::uint32_t column, TokenKind kind, const Span& at);
    void save_candidate(const Span& at);
    bool fetch_block_entry(bool after_entry);
    bool fetch_key();
    bool fetch_value();
    bool fetch_flow_start();
    bool fetch_flow_end();
    bool fetch_flow_entry();
    bool fetch_document_start();
    bool fetch_document_end();
    bool fetch_directive();
    bool fetch_anchor_or_alias(bool alias);
    bool fetch_tag();
    bool check_property_indent(const Span& at);
    bool property_unresolved();
    // The implicit-key decision after a plain or quoted scalar; queues the scalar.
    bool finish_scalar(Token& scalar, bool quoted, bool multi_line, bool key_allowed, bool tab_before);
    bool fetch_plain();
    bool fetch_quoted(bool double_quoted);
    bool fetch_block_scalar(bool folded);

    // --- scalars (scalar.cpp) ---
    bool scan_plain(Token& token, bool& multi_line);
    bool scan_plain_line(bool flow);
    [[gnu::noinline]] bool scan_plain_line_wide(std::size_t p, bool flow);
    bool scan_single_quoted(Token& token, bool& multi_line);
    bool scan_double_quoted(Token& token, bool& multi_line);
    // Where a quoted scalar's first run ends (its first quote, escape or
    // doubled quote, or break): searched, or taken from the caller that
    // searched it already (ScalarReader), once.
    std::size_t quoted_run_end(std::size_t content, unsigned char quote, unsigned char escape, unsigned& high) noexcept {
        if (known_run_end_ != 0) {
            const std::size_t end = std::exchange(known_run_end_, 0);
            high = known_run_high_ ? 1 : 0;
            return end;
        }
        return scan::find_quote_stop(reader_.text, content, reader_.length, quote, escape, high);
    }
    bool skip_quoted_empty_lines(std::size_t& empty_lines);
    bool fold_quoted_break(std::size_t& trim_floor);
    void copy_quoted_run(unsigned char quote, unsigned char escape);
    bool skip_escaped_break(std::size_t& trim_floor);
    bool scan_escape(std::size_t& trim_floor);
    std::uint32_t low_surrogate_escape_at(std::size_t offset) const noexcept;
    bool scan_block_scalar(Token& token, bool folded);
    // Appends the first `n` of the kBreakWindow bytes at `src` (all readable)
    // to the arena: the copy is always of the whole window, so its cost does
    // not branch on the length; the string is then cut back.
    void append_window(const unsigned char* src, std::size_t n) {
        const std::size_t at = arena_.size();
        arena_.append(reinterpret_cast<const char*>(src), wide::kBreakWindow);
        arena_.resize(at + n);
    }
    // Columns taken by input[begin, end): its bytes, or its characters when
    // `high` says it holds non-ASCII ones.
    std::uint32_t run_columns(std::size_t begin, std::size_t end, bool high) const noexcept {
        const std::size_t n = high ? utf8::measure(reader_.text + begin, end - begin).chars : end - begin;
        return static_cast<std::uint32_t>(n);
    }

    // --- output ---
    Token make(TokenKind kind, const Span& at) const noexcept {
        Token t{};
        t.offset = at.offset;
        t.line = at.line;
        t.column = at.column;
        t.kind = kind;
        return t;
    }
    Token make_here(TokenKind kind) const noexcept { return make(kind, reader_.mark()); }
    // Tokens wait in the queue only while a candidate may still insert in front
    // of them; otherwise they go straight to the list.
    void queue(const Token& t) {
        if (candidate_ && !candidate_->spilled) {
            queue_.push_back(t);
            if (queue_.size() > kQueueLimit) [[unlikely]]
                spill_queue();
        } else {
            if (out_.tokens_.size() == out_.tokens_.capacity()) [[unlikely]]
                reserve_tokens(1);
            out_.tokens_.push_back(t);
        }
        last_kind_ = t.kind;
    }
    // Drops the candidate (taken or abandoned) and releases the queued tokens.
    void release_candidate() {
        candidate_.reset();
        if (!queue_.empty()) release_queue();
    }
    [[gnu::noinline]] void spill_queue() {
        candidate_->index += out_.tokens_.size();
        candidate_->spilled = true;
        release_queue();
    }
    [[gnu::noinline]] void release_queue() {
        if (out_.tokens_.capacity() - out_.tokens_.size() < queue_.size()) reserve_tokens(queue_.size());
        queue_.drain_into(out_.tokens_);
    }
    // Grows the token list to what the rest of the text is likely to need.
    [[gnu::noinline]] void reserve_tokens(std::size_t more);
    // Payload that is input[text_pos, text_pos + length).
    void set_slice(Token& t, std::size_t text_pos, std::size_t length, std::uint64_t end) {
        if (length > 0xFFFFFFFFu) [[unlikely]]
            return set_long_slice(t, text_pos, length, end);
        t.storage = TextStorage::Slice;
        t.skip = static_cast<std::uint8_t>(text_pos - t.offset);
        t.data = static_cast<std::uint32_t>(length);
    }
    void set_long_slice(Token& t, std::size_t text_pos, std::size_t length, std::uint64_t end);
    // Payload that is arena_[arena_pos, end of arena).
    void set_owned(Token& t, std::size_t arena_pos, std::uint64_t end);
    bool fail(std::string message, const Span& at);

    scan::Reader reader_;
    TokenList out_;
    std::string& arena_;
    scan::TokenQueue queue_;
    std::optional<Error> error_;
    std::size_t known_run_end_ = 0;  // see quoted_run_end (0: none)
    bool known_run_high_ = false;
    bool record_comments_;
#if TORVEX_UTF8_AVX2
    const bool avx2_ = utf8::has_avx2();  // the window searches take 32 bytes per step
#endif

    std::int64_t indent_ = -1;
    std::vector<IndentLevel> indent_stack_;
    bool is_sequence_ = false;
    std::uint32_t flow_level_ = 0;
    std::vector<bool> flow_stack_;  // true: mapping
    bool simple_key_allowed_ = true;
    std::optional<Candidate> candidate_;
    bool entry_complete_ = false;
    std::uint32_t entry_line_ = 0;
    bool explicit_key_ = false;
    bool adjacent_value_ = false;
    Span flow_start_;
    std::int64_t flow_start_indent_ = -1;
    std::int64_t key_line_ = -1;
    std::int64_t property_line_ = -1;
    bool indent_properties_ = false;
    std::optional<Span> misplaced_property_;  // a property left of its value's indentation, unless it starts a key
    bool start_marker_line_ = false;
    bool previous_was_entry_ = false;
    bool closed_level_ = false;
    bool directives_allowed_ = true;
    bool tab_flag_ = false;
    bool started_ = false;
    bool ended_ = false;
    TokenKind last_kind_ = TokenKind::StreamStart;
};

}  // namespace torvex
