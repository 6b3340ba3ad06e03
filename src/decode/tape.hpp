// Values as a flat run of 16-byte nodes in pre-order. The decoder writes one
// (texts borrowed from the input and the token list), which the plain load
// turns straight into Python objects; the converter from Python objects
// writes one, which the JSON emitter reads. Building a tape costs one append
// per node and freeing it one deallocation, where a Value tree costs an
// allocation per string and collection and a walk to free. Where a tree is
// wanted (decode_stream, the YAML emitter) it is built from the tape.
#pragma once

#include <cstdint>
#include <cstring>
#include <forward_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/scalar_style.hpp"
#include "core/spare_buffer.hpp"
#include "decode/decoder.hpp"
#include "decode/value.hpp"
#include "scanner/token.hpp"

namespace torvex {

// One node. Scalars stand alone; a collection is followed by its items (a
// mapping by key, value, key, value ...) and records how many nodes its whole
// subtree spans, so a subtree can be skipped or copied without a walk; a
// tagged node is followed by its one inner node.
struct TapeNode {
    using Kind = Value::Kind;

    // kind in the low 8 bits; above them the text length (String, BigInt,
    // Tagged's tag) or the number of items or entries (Sequence, Mapping)
    std::uint64_t head;
    union {
        const char* text;
        std::int64_t integer;
        double floating;
        bool boolean;
        std::uint64_t span;  // collections: nodes in the subtree, this one included
    };

    Kind kind() const noexcept { return static_cast<Kind>(head & 0xFF); }
    std::uint64_t size() const noexcept { return head >> 8; }
    std::string_view text_view() const noexcept { return {text, static_cast<std::size_t>(size())}; }
    bool is_collection() const noexcept { return kind() == Kind::Sequence || kind() == Kind::Mapping; }

    static std::uint64_t make_head(Kind kind, std::uint64_t size) noexcept {
        return static_cast<std::uint64_t>(kind) | (size << 8);
    }
};
static_assert(sizeof(TapeNode) == 16);

struct Tape {
    std::vector<TapeNode> nodes = SpareBuffer<TapeNode>::take();
    // Texts made while decoding (resolved tags), at stable addresses. A list
    // costs nothing until a text is kept; most loads keep none.
    std::forward_list<std::string> texts;

    Tape() = default;
    Tape(Tape&&) noexcept = default;
    Tape& operator=(Tape&&) noexcept = default;
    ~Tape() { SpareBuffer<TapeNode>::give(nodes); }

    // The index just past the subtree that starts at `i`.
    std::size_t end_of(std::size_t i) const noexcept {
        while (nodes[i].kind() == TapeNode::Kind::Tagged) ++i;
        return nodes[i].is_collection() ? i + nodes[i].span : i + 1;
    }

    void push_null() { push(TapeNode::Kind::Null, 0).integer = 0; }
    void push_bool(bool b) { push(TapeNode::Kind::Bool, 0).integer = b ? 1 : 0; }
    void push_int(std::int64_t i) { push(TapeNode::Kind::Int, 0).integer = i; }
    void push_float(double d) { push(TapeNode::Kind::Float, 0).floating = d; }
    void push_text(TapeNode::Kind kind, std::string_view s) { push(kind, s.size()).text = s.data(); }
    // A text node whose text is still an offset into a buffer that may move;
    // its owner replaces the offset (kept in `span`) with a pointer later.
    void push_offset(TapeNode::Kind kind, std::uint64_t offset, std::uint64_t size) { push(kind, size).span = offset; }
    // A collection header whose count and span are filled in by close().
    std::size_t open(TapeNode::Kind kind) {
        push(kind, 0).span = 0;
        return nodes.size() - 1;
    }
    void close(std::size_t header, std::uint64_t count) {
        nodes[header].head = TapeNode::make_head(nodes[header].kind(), count);
        nodes[header].span = nodes.size() - header;
    }
    std::string_view keep(std::string text) { return texts.emplace_front(std::move(text)); }

private:
    TapeNode& push(TapeNode::Kind kind, std::uint64_t size) {
        TapeNode& node = nodes.emplace_back();
        node.head = TapeNode::make_head(kind, size);
        return node;
    }
};

// Where the node at the same index of a tape stood in its text, for loads
// that annotate: byte offsets, 0-based lines and columns in characters, as
// the token list counts them. A node starts at its first property (`&a`,
// `!t`) where it has one; a collection ends where its last entry ends (a
// flow one just past its bracket), an alias where its name ends, an empty
// node where it starts.
struct TapePlace {
    std::uint64_t offset;
    std::uint64_t end_offset;
    std::uint32_t line;
    std::uint32_t column;
    std::uint32_t end_line;
    std::uint32_t end_column;
    ScalarStyle style;  // scalars: as written
};

// Pushes a plain scalar as resolved; false, pushing nothing, for a merge
// key, which each reader handles its own way.
inline bool push_resolved_scalar(Tape& tape, const Resolved& r, std::string_view text) {
    switch (r.kind) {
        case ResolvedKind::Null: tape.push_null(); break;
        case ResolvedKind::Bool: tape.push_bool(r.boolean); break;
        case ResolvedKind::Int: tape.push_int(r.integer); break;
        case ResolvedKind::BigInt: tape.push_text(TapeNode::Kind::BigInt, text); break;
        case ResolvedKind::Float: tape.push_float(r.floating); break;
        case ResolvedKind::Str: tape.push_text(TapeNode::Kind::String, text); break;
        case ResolvedKind::Merge: return false;
    }
    return true;
}

// A decoded stream. Texts point into the input, which must outlive this,
// and into the token list, which this owns.
struct DecodedTape {
    // The token list; from the direct reader, a list holding only the texts
    // its scalar reader made (null when it made none).
    std::unique_ptr<TokenList> tokens;
    Tape tape;
    std::vector<std::size_t> documents;  // index of each document's root node
    std::vector<std::string> warnings;   // in the order produced
    bool has_merge_keys = false;         // merge markers remain on the tape; tape_documents applies them
    std::size_t anchors = 0;             // anchor properties in the whole stream

    // Back to empty, the tape keeping its buffer: for a reader that gives
    // way to another after writing part of the stream.
    void clear() noexcept {
        tokens.reset();
        tape.nodes.clear();
        tape.texts.clear();
        documents.clear();
        warnings.clear();
        has_merge_keys = false;
        anchors = 0;
    }
};

// The decoded stream: read straight from the text where it keeps to the
// common subset the direct reader knows (direct_tape.cpp), else through the
// token list. Both give the same tape, warnings and errors.
Result<DecodedTape> decode_tape(std::string_view text, std::uint32_t file_id, const DecodeOptions& options);

// decode_tape into `out`, a DecodedTape as made (with the thread's spare
// tape buffer), for a caller that keeps the stream where it was built: a
// DecodedTape costs a dozen words to move and its moved-from husk a release.
// The error, if any (`out` is then unspecified).
std::optional<Error> decode_tape_into(std::string_view text, std::uint32_t file_id, const DecodeOptions& options,
                                      DecodedTape& out);

// The token-list path alone: scanner, token list, decoder.
Result<DecodedTape> decode_tape_tokens(std::string_view text, std::uint32_t file_id, const DecodeOptions& options);

// The direct path alone: nullopt where the text leaves its subset or may
// hold an error. It has no token list.
std::optional<DecodedTape> decode_tape_direct(std::string_view text, std::uint32_t file_id,
                                              const DecodeOptions& options);

// The direct path into `out` (as made); false where it gives way, leaving
// `out` partly written. With `places`, each node's place goes there too,
// index for index.
bool decode_tape_direct_into(std::string_view text, std::uint32_t file_id, const DecodeOptions& options,
                             DecodedTape& out, std::vector<TapePlace>* places = nullptr);

// The Value tree of the subtree at `index` (merge markers still in place).
Value tape_value(const Tape& tape, std::size_t index);

// Appends `value` as one subtree; its texts point into `value`, which must
// outlive the tape's use.
void append_value(Tape& tape, const Value& value);

// Every document as a Value tree, merge keys applied.
std::vector<Value> tape_documents(const DecodedTape& decoded);

// Whether two decoded streams hold the same documents node for node: kinds,
// counts and values alike, texts compared by content and floats by their
// bits (a NaN equals itself), and as many anchors defined. Merge keys are compared as written, so two
// streams that differ only in how merges apply count as different.
bool same_documents(const DecodedTape& a, const DecodedTape& b) noexcept;

}  // namespace torvex
