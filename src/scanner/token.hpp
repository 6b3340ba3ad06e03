// Scanner output: fixed-size tokens in one vector, plus the comment records.
//
// A token is 24 bytes. Text payloads (scalar text, anchor and alias names,
// tag and directive text) are not stored in the token: a payload that is a
// contiguous slice of the input is described by its length (it starts at the
// token's offset plus a small skip), and any other payload lives in the token
// list's text arena, described by an entry of the owned-text table. The token
// list therefore refers to the input: the input must outlive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/spare_buffer.hpp"
#include "core/scalar_style.hpp"
#include "core/span.hpp"

namespace torvex {

enum class TokenKind : std::uint8_t {
    StreamStart,
    StreamEnd,
    DocumentStart,
    DocumentEnd,
    MappingStart,   // flow() tells `{` from a block mapping
    MappingEnd,
    SequenceStart,  // flow() tells `[` from a block sequence
    SequenceEnd,
    BlockEnd,
    Key,
    Value,
    SequenceEntry,
    FlowEntry,
    Scalar,     // text() and style()
    Anchor,     // text(): the name
    Alias,      // text(): the name
    Tag,        // text(): as written (`!`, `!!str`, `!e!x`, `!<uri>`)
    Directive,  // text(): everything after `%` up to the line break
};

const char* token_kind_name(TokenKind kind) noexcept;

// After a block mapping's `:`, a token that stands for no value of its own
// there (an empty value, an indentless sequence, the next entry or the end):
// its column says nothing about the value's indentation.
inline bool starts_no_value_after_colon(TokenKind kind) noexcept {
    switch (kind) {
        case TokenKind::SequenceEntry:
        case TokenKind::BlockEnd:
        case TokenKind::MappingEnd:
        case TokenKind::Key:
        case TokenKind::Value:
        case TokenKind::StreamEnd:
        case TokenKind::DocumentStart:
        case TokenKind::DocumentEnd: return true;
        default: return false;
    }
}

// Where a token's payload lives.
enum class TextStorage : std::uint8_t {
    None,   // no payload
    Slice,  // input[offset + skip, + data)
    Table,  // owned_[data]: arena text, or a long input slice
};

// A trivial type, so that the list moves tokens with memcpy; `Token{}` is all zeros.
struct Token {
    std::uint64_t offset;  // start byte offset
    std::uint32_t line;    // 0-based
    std::uint32_t column;  // 0-based, in characters
    std::uint32_t data;    // Slice: payload length; Table: index into the owned-text table
    TokenKind kind;
    std::uint8_t style;    // ScalarStyle for scalars; 1 for a flow MappingStart/SequenceStart
    TextStorage storage;
    std::uint8_t skip;     // Slice: bytes between offset and the payload (the `&`, `*`, `%` or quote)
};
static_assert(sizeof(Token) == 24, "tokens are kept compact");
static_assert(std::is_trivial_v<Token>);

// One `#` comment. `text` excludes the `#` and one following space and has its
// trailing Unicode white space removed; it is a slice of the input.
// `span.offset` is the byte offset of the `#`.
struct CommentRecord {
    std::string_view text;
    Span span;
};

class TokenList {
public:
    struct OwnedText {
        std::uint64_t pos;  // arena offset, or input offset when in_input
        std::uint64_t length;
        std::uint64_t end;  // source end offset of the token
        bool in_input;
    };

    TokenList() = default;
    TokenList(std::string_view input, std::uint32_t file_id) : input_(input), file_id_(file_id) {}
    TokenList(const TokenList&) = default;
    TokenList(TokenList&&) noexcept = default;
    TokenList& operator=(const TokenList&) = default;
    TokenList& operator=(TokenList&&) noexcept = default;
    ~TokenList();  // gives the token records and the arena back as the thread's spares

    // Frees the token records but keeps every text they point to, for a
    // consumer that holds on to the texts only.
    void release_tokens() noexcept {
        SpareBuffer<Token>::give(tokens_);
        std::vector<Token>().swap(tokens_);
        std::vector<OwnedText>().swap(owned_);
    }
    // For a list kept long after its load: the arena (which may be the
    // thread's spare, sized for an earlier text) is cut to what it holds.
    // It moves: call it before taking views of the texts.
    void shrink_texts() {
        if (arena_.capacity() > arena_.size() + arena_.size() / 4 + 4096) arena_.shrink_to_fit();
    }

    std::size_t size() const noexcept { return tokens_.size(); }
    bool empty() const noexcept { return tokens_.empty(); }
    const Token& operator[](std::size_t i) const noexcept { return tokens_[i]; }
    auto begin() const noexcept { return tokens_.begin(); }
    auto end() const noexcept { return tokens_.end(); }

    // The payload text; empty for tokens without one.
    std::string_view text(const Token& t) const noexcept {
        switch (t.storage) {
            case TextStorage::Slice: return input_.substr(t.offset + t.skip, t.data);
            case TextStorage::Table: {
                const OwnedText& o = owned_[t.data];
                return o.in_input ? input_.substr(o.pos, o.length)
                                  : std::string_view(arena_).substr(o.pos, o.length);
            }
            case TextStorage::None: break;
        }
        return {};
    }

    // The source end: for scalars the byte just past the last source character
    // (closing quote included, block scalars up to the first line after them);
    // for every other token the start offset.
    std::uint64_t end_offset(const Token& t) const noexcept {
        if (t.kind != TokenKind::Scalar) return t.offset;
        if (t.storage == TextStorage::Table) return owned_[t.data].end;
        // A slice scalar is plain (text == source) or quoted (one quote each side).
        return t.offset + t.skip + t.data + t.skip;
    }

    Span span(const Token& t) const noexcept { return Span{file_id_, t.line, t.column, t.offset}; }
    static ScalarStyle style(const Token& t) noexcept { return static_cast<ScalarStyle>(t.style); }
    static bool flow(const Token& t) noexcept { return t.style != 0; }

    std::string_view input() const noexcept { return input_; }
    std::uint32_t file_id() const noexcept { return file_id_; }
    // The arena that owned texts live in, whole (ScalarReader's offsets point into it).
    std::string_view made_texts() const noexcept { return arena_; }
    const std::vector<CommentRecord>& comments() const noexcept { return comments_; }

    // Heap bytes held by the list (tokens, owned texts, arena, comments), by capacity.
    std::size_t memory_bytes() const noexcept {
        return tokens_.capacity() * sizeof(Token) + owned_.capacity() * sizeof(OwnedText) + arena_.capacity() +
               comments_.capacity() * sizeof(CommentRecord);
    }

private:
    friend class Scanner;

    std::string_view input_;
    std::uint32_t file_id_ = 0;
    std::vector<Token> tokens_;
    std::vector<OwnedText> owned_;
    std::string arena_;
    std::vector<CommentRecord> comments_;
};

}  // namespace torvex
