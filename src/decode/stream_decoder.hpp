// The recursive-descent parser over a token list that builds values as it
// goes. The tokens are the parser's events: there is no event layer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "decode/decoder.hpp"
#include "decode/document_directives.hpp"
#include "scanner/token.hpp"

namespace torvex {

class StreamDecoder {
public:
    StreamDecoder(const TokenList& tokens, const DecodeOptions& options) : tokens_(tokens), options_(options) {}

    // Decodes every document; false with error() set on the first failure.
    bool run(DecodedStream& out);
    Error& error() { return *error_; }
    bool saw_merge_key() const { return saw_merge_key_; }

private:
    struct Properties {
        std::optional<std::string_view> anchor;
        std::optional<std::string_view> tag;  // as written
        std::size_t start = 0;                // token where the node (properties included) begins
    };
    struct Anchor {
        Value value;
        std::uint64_t nodes;
    };

    const Token& at(std::size_t i) const { return tokens_[i]; }
    const Token& current() const { return tokens_[pos_]; }
    bool at_end() const { return pos_ >= tokens_.size(); }
    TokenKind kind() const { return at_end() ? TokenKind::StreamEnd : current().kind; }
    Span span_here() const;
    Span span_at(std::size_t token_index) const;

    bool fail(ErrorKind kind, std::string message, Span at);
    bool fail(std::string message, Span at) { return fail(ErrorKind::Syntax, std::move(message), at); }

    bool process_directives();
    bool finish_document();

    // A node at the current position; `present` is false when nothing stood there.
    bool decode_node(Value& out, bool& present);
    bool decode_node_body(Value& out, bool& present, Properties& props, bool indentless_allowed);
    bool decode_alias(Value& out);
    bool decode_scalar(std::string_view text, ScalarStyle style, const Properties& props, Span at, Value& out);
    bool decode_mapping(Value& out);
    bool decode_sequence(Value& out);
    bool decode_indentless_sequence(Value& out);
    bool decode_sequence_item(bool flow, bool after_entry, Sequence& items);
    bool decode_value_or_null(Value& out);
    bool value_indented(std::uint32_t key_column);
    bool decode_mapping_value(bool flow, Value& out);
    // Checks the key policies, then moves key and value into a new entry.
    bool add_entry(Mapping& entries, std::unordered_set<std::string>* seen, Value& key, std::size_t key_token,
                   Value& value);

    bool resolve_tag(const Properties& props, Span at, std::string& resolved, bool& core);
    bool wrap_with_tag(const Properties& props, Span at, Value& value);
    void register_anchor(const Properties& props, const Value& value);

    const TokenList& tokens_;
    const DecodeOptions& options_;
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
    // Scratch stacks shared by all nesting levels (see decode_mapping).
    Mapping entry_stack_;
    Sequence item_stack_;
    std::optional<Error> error_;
};

// Applies merge keys in every document, children first; turns every other
// merge marker into the plain string "<<".
void apply_merge_keys(Value& document);

}  // namespace torvex
