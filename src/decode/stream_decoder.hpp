// The recursive-descent parser over a token list that writes the decoded
// nodes onto a tape as it goes. The tokens are the parser's events: there is
// no event layer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "decode/decoder.hpp"
#include "decode/document_directives.hpp"
#include "decode/tape.hpp"
#include "scanner/token.hpp"

namespace torvex {

class StreamDecoder {
public:
    StreamDecoder(const TokenList& tokens, const DecodeOptions& options, Tape& tape)
        : tokens_(tokens), options_(options), tape_(tape) {}

    // Decodes every document onto the tape; false with error() set on the first failure.
    bool run(DecodedTape& out);
    Error& error() { return *error_; }

private:
    struct Properties {
        std::optional<std::string_view> anchor;
        std::optional<std::string_view> tag;  // as written
        std::size_t start = 0;                // token where the node (properties included) begins
    };
    // The nodes an anchor names: tape_[first, last), or null for an anchored empty node.
    struct Anchor {
        std::size_t first = 0;
        std::size_t last = 0;
    };

    const Token& at(std::size_t i) const { return tokens_[i]; }
    const Token& current() const { return tokens_[pos_]; }
    bool at_end() const { return pos_ >= tokens_.size(); }
    TokenKind kind() const { return at_end() ? TokenKind::StreamEnd : current().kind; }
    Span span_here() const;
    Span span_at(std::size_t token_index) const;

    bool fail(ErrorKind kind, std::string message, Span at);
    bool fail(std::string message, Span at) { return fail(ErrorKind::Syntax, std::move(message), at); }
    bool fail(Error error) {
        if (!error_) error_ = std::move(error);
        return false;
    }
    // A token other than an entry inside a block sequence.
    bool fail_stray_in_sequence();

    bool process_directives();
    bool finish_document();

    // Writes the node at the current position; `present` is false when nothing stood there (and nothing was written).
    bool decode_node(bool& present);
    bool decode_node_body(bool& present, Properties& props, bool indentless_allowed);
    bool decode_alias();
    // A scalar token at the current position (so without properties), which
    // decode_node would read as decode_lone_scalar does.
    bool lone_scalar_here() const {
        return !at_end() && current().kind == TokenKind::Scalar && depth_ < kMaxNestingDepth;
    }
    bool decode_lone_scalar();
    // `token`: where the scalar stands, for warnings (an empty node's: the token after it).
    bool decode_scalar(std::string_view text, ScalarStyle style, const Properties& props, std::size_t token);
    bool decode_untagged_scalar(std::string_view text, ScalarStyle style, std::size_t token);
    void push_resolved(const Resolved& resolved, std::string_view text);
    template <class Body>
    bool decode_collection(const Properties& props, Span at, Body body);
    bool decode_mapping();
    bool decode_sequence();
    bool decode_indentless_sequence();
    bool decode_sequence_item(bool flow, bool after_entry, std::uint64_t& count);
    bool decode_single_pair(std::size_t header, std::size_t key_node, std::size_t key_token);
    bool decode_value_or_null();
    bool value_indented(std::uint32_t key_column);
    bool decode_mapping_value(bool flow);
    // Checks the key policies for the entry whose key starts at `key_node`.
    bool check_entry(std::unordered_set<std::string>* seen, std::size_t key_node, std::size_t key_token);
    bool is_merge_marker(std::size_t node) const;
    // Makes room for a node at `index`, moving the anchors recorded after it.
    void insert_node(std::size_t index);

    bool resolve_tag(const Properties& props, Span at, std::string& resolved, bool& core);
    void register_anchor(std::string_view name, std::size_t first, bool present);

    const TokenList& tokens_;
    const DecodeOptions& options_;
    Tape& tape_;
    std::size_t pos_ = 0;
    std::uint32_t depth_ = 0;
    // A SequenceEntry right after a node's properties starts an indentless
    // sequence only where a block mapping's value is being read; elsewhere it
    // is the next entry of the enclosing sequence (`- &a` then `- *a`).
    bool indentless_allowed_ = false;
    DocumentDirectives directives_;
    bool directives_allowed_ = true;
    std::unordered_map<std::string_view, Anchor> anchors_;
    std::uint64_t expanded_nodes_ = 0;
    bool saw_merge_key_ = false;
    std::vector<std::string> warnings_;
    std::optional<Error> error_;
};

// Applies merge keys in every document, children first; turns every other
// merge marker into the plain string "<<".
void apply_merge_keys(Value& document);

}  // namespace torvex
