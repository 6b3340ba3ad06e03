#include "decode/stream_decoder.hpp"

#include <cstring>
#include <utility>

#include "core/stack_guard.hpp"
#include "decode/key_identity.hpp"
#include "decode/misplaced_collection.hpp"
#include "scanner/scanner.hpp"

namespace torvex {

namespace {

constexpr std::string_view kMergeTag = "tag:yaml.org,2002:merge";
constexpr std::string_view kMergeText = "<<";

bool is_document_boundary(TokenKind k) {
    return k == TokenKind::StreamEnd || k == TokenKind::DocumentStart || k == TokenKind::DocumentEnd;
}

bool is_block_collection_start(const TokenList& tokens, const Token& t) {
    return ((t.kind == TokenKind::MappingStart || t.kind == TokenKind::SequenceStart) && !tokens.flow(t)) ||
           t.kind == TokenKind::SequenceEntry;
}

}  // namespace

Span StreamDecoder::span_at(std::size_t index) const {
    if (index < tokens_.size()) return tokens_.span(tokens_[index]);
    if (tokens_.size() != 0) return tokens_.span(tokens_[tokens_.size() - 1]);
    return Span{tokens_.file_id(), 0, 0, 0};
}

Span StreamDecoder::span_here() const {
    if (!at_end()) return tokens_.span(current());
    if (tokens_.size() != 0) return tokens_.span(tokens_[tokens_.size() - 1]);
    return Span{tokens_.file_id(), 0, 0, 0};
}

bool StreamDecoder::fail(ErrorKind kind, std::string message, Span at) {
    if (!error_) error_ = Error::at(kind, std::move(message), at);
    return false;
}

// ---------------------------------------------------------------------------
// Stream and documents

bool StreamDecoder::run(DecodedTape& out) {
    while (!at_end()) {
        switch (kind()) {
            case TokenKind::StreamStart:
            case TokenKind::StreamEnd: ++pos_; continue;
            case TokenKind::Directive:
                if (!process_directives()) return false;
                continue;  // the DocumentStart after the directives comes next
            case TokenKind::DocumentEnd:
                ++pos_;
                directives_allowed_ = true;
                continue;
            case TokenKind::DocumentStart: {
                ++pos_;
                out.documents.push_back(tape_.nodes.size());
                if (!decode_value_or_null()) return false;  // an absent body is the null document
                if (!finish_document()) return false;
                continue;
            }
            default: {
                const std::size_t root = tape_.nodes.size();
                const std::size_t start = pos_;
                bool present = false;
                if (!decode_node(present)) return false;
                if (present) {
                    out.documents.push_back(root);
                } else if (pos_ != start) {
                    // Properties alone (`&a`) still make a document: an empty node, null.
                    out.documents.push_back(root);
                    tape_.push_null();
                }
                if (!finish_document()) return false;
                continue;
            }
        }
    }
    out.warnings = std::move(warnings_);
    out.has_merge_keys = saw_merge_key_;
    return true;
}

bool StreamDecoder::process_directives() {
    if (!directives_allowed_) {
        return fail("a directive must be at the start of the stream or follow a document-end marker (...)",
                    span_here());
    }
    while (kind() == TokenKind::Directive) {
        if (auto problem = directives_.apply(tokens_.text(current()))) return fail(std::move(*problem), span_here());
        ++pos_;
    }
    if (kind() != TokenKind::DocumentStart) return fail("directive must be followed by a document start (---)", span_here());
    return true;
}

bool StreamDecoder::finish_document() {
    if (!at_end()) {
        const TokenKind k = kind();
        if (!is_document_boundary(k) && k != TokenKind::Directive) {
            return fail("trailing content after document", span_here());
        }
    }
    directives_.reset();
    anchors_.clear();
    directives_allowed_ = false;  // until a DocumentEnd
    return true;
}

// ---------------------------------------------------------------------------
// Nodes

bool StreamDecoder::decode_node(bool& present) {
    present = false;
    if (at_end()) return true;
    if (depth_ >= kMaxNestingDepth) {
        return fail("maximum nesting depth (" + std::to_string(kMaxNestingDepth) + ") exceeded", span_here());
    }
    if (current().kind == TokenKind::Scalar) {
        present = true;
        return decode_lone_scalar();
    }
    ++depth_;
    Properties props;
    props.start = pos_;
    const std::size_t first = tape_.nodes.size();
    const bool indentless = std::exchange(indentless_allowed_, false);
    // Only collections recurse, so only they go through the stack guard (see decode_collection).
    const bool ok = decode_node_body(present, props, indentless);
    --depth_;
    if (!ok) return false;
    if (props.anchor) register_anchor(*props.anchor, first, present);
    return true;
}

bool StreamDecoder::decode_node_body(bool& present, Properties& props, bool indentless_allowed) {
    for (;;) {
        // Properties: any run of anchors and tags.
        while (!at_end() && (kind() == TokenKind::Anchor || kind() == TokenKind::Tag)) {
            if (kind() == TokenKind::Anchor) {
                if (props.anchor) return fail("a node cannot have two anchors", span_here());
                props.anchor = tokens_.text(current());
            } else {
                props.tag = tokens_.text(current());  // a later tag replaces an earlier one
            }
            ++pos_;
        }
        if (at_end()) break;
        const Token& t = current();
        switch (t.kind) {
            case TokenKind::Alias:
                if (props.anchor || props.tag) return fail("an alias node cannot have an anchor or tag", span_here());
                present = true;
                return decode_alias();
            case TokenKind::Scalar: {
                ++pos_;
                present = true;
                return decode_scalar(tokens_.text(t), TokenList::style(t), props, pos_ - 1);
            }
            case TokenKind::MappingStart:
                present = true;
                return decode_collection(props, tokens_.span(t), [&] { return decode_mapping(); });
            case TokenKind::SequenceStart:
                present = true;
                return decode_collection(props, tokens_.span(t), [&] { return decode_sequence(); });
            case TokenKind::SequenceEntry:
                if (!indentless_allowed) break;
                present = true;
                return decode_collection(props, tokens_.span(t), [&] { return decode_indentless_sequence(); });
            case TokenKind::Value:
                // After an anchor or tag the indicator belongs to the enclosing
                // collection: these properties are an empty node's (`&a : x`).
                if (props.anchor || props.tag) break;
                ++pos_;  // a stray indicator: the following node stands in this node's place
                continue;
            default: break;
        }
        break;
    }
    // Nothing stands here: an empty node. With a tag it is the tagged empty scalar.
    if (props.tag) {
        present = true;
        return decode_scalar("", ScalarStyle::Plain, props, pos_);
    }
    return true;
}

// A collection with its properties. A custom tag's node goes ahead of the
// collection on the tape; a tag that cannot be resolved fails only once the
// collection has been read, so that an error inside it is reported first.
template <class Body>
bool StreamDecoder::decode_collection(const Properties& props, Span at, Body body) {
    if (!props.tag) return with_stack(std::move(body));
    std::optional<Error> tag_error;
    std::string tag;
    bool core = false;
    if (!resolve_tag(props, at, tag, core)) {
        tag_error = std::move(error_);
        error_.reset();
    } else if (!core) {
        tape_.push_text(TapeNode::Kind::Tagged, tape_.keep(std::move(tag)));
    }
    if (!with_stack(std::move(body))) return false;
    if (tag_error) {
        error_ = std::move(tag_error);
        return false;
    }
    return true;  // core tags on collections leave no trace
}

bool StreamDecoder::decode_alias() {
    const std::size_t alias_token = pos_++;
    const std::string_view name = tokens_.text(at(alias_token));
    const auto found = anchors_.find(name);
    if (found == anchors_.end()) {
        if (options_.aliases_unchecked) {
            tape_.push_null();
            return true;
        }
        return fail("unknown alias: *" + std::string(name), span_at(alias_token));
    }
    const Anchor anchor = found->second;
    const std::size_t length = anchor.last - anchor.first;
    const std::uint64_t nodes = length == 0 ? 1 : length;
    expanded_nodes_ = nodes > UINT64_MAX - expanded_nodes_ ? UINT64_MAX : expanded_nodes_ + nodes;
    if (expanded_nodes_ > kMaxExpandedNodes) {
        if (options_.aliases_unchecked) {
            tape_.push_null();
            return true;
        }
        return fail("document expands to too many nodes (possible alias bomb)", span_at(alias_token));
    }
    if (length == 0) {
        tape_.push_null();
        return true;
    }
    // Subtrees record sizes, never positions, so a copy of the nodes is a
    // copy of the tree.
    std::vector<TapeNode>& nodes_on_tape = tape_.nodes;
    const std::size_t old_size = nodes_on_tape.size();
    nodes_on_tape.resize(old_size + length);
    std::memcpy(&nodes_on_tape[old_size], &nodes_on_tape[anchor.first], length * sizeof(TapeNode));
    return true;
}

void StreamDecoder::register_anchor(std::string_view name, std::size_t first, bool present) {
    // Defining a name again replaces the earlier definition.
    anchors_.insert_or_assign(name, present ? Anchor{first, tape_.nodes.size()} : Anchor{});
}

void StreamDecoder::insert_node(std::size_t index) {
    tape_.nodes.insert(tape_.nodes.begin() + static_cast<std::ptrdiff_t>(index), TapeNode{});
    // Anchored nodes end before `index` or lie wholly after it: the node that
    // contains `index` is still being read and has no anchor entry yet.
    for (auto& entry : anchors_) {
        Anchor& anchor = entry.second;
        if (anchor.last != anchor.first && anchor.first >= index) {
            ++anchor.first;
            ++anchor.last;
        }
    }
}

bool StreamDecoder::resolve_tag(const Properties& props, Span at, std::string& resolved, bool& core) {
    std::string problem;
    auto full = directives_.resolve_tag(*props.tag, problem);
    if (!full) return fail(std::move(problem), at);
    resolved = std::move(*full);
    core = is_core_tag(*props.tag, resolved);
    return true;
}

bool StreamDecoder::decode_scalar(std::string_view text, ScalarStyle style, const Properties& props,
                                  std::size_t token) {
    if (!props.tag) return decode_untagged_scalar(text, style, token);
    std::string tag;
    bool core = true;
    if (!resolve_tag(props, span_at(props.start), tag, core)) return false;
    if (!core) {
        // Unknown tags resolve as str; the tag wraps the text for the converter.
        tape_.push_text(TapeNode::Kind::Tagged, tape_.keep(std::move(tag)));
        tape_.push_text(TapeNode::Kind::String, text);
        return true;
    }
    const bool plain = style == ScalarStyle::Plain;
    if (options_.yaml11_warnings) {
        if (auto diff = version_difference(options_.mode, text, plain, tag)) {
            const Span at = span_at(token);
            warnings_.push_back(version_warning(text, *diff, at.line, at.column));
        }
    }
    push_resolved(resolve(options_.mode, text, plain, tag), text);
    return true;
}

bool StreamDecoder::decode_untagged_scalar(std::string_view text, ScalarStyle style, std::size_t token) {
    // Quoted and block scalars are strings, and so are most plain ones (a str
    // in every mode gives no version warning either).
    if (style != ScalarStyle::Plain || plain_is_str_at_a_glance(text)) {
        tape_.push_text(TapeNode::Kind::String, text);
        return true;
    }
    std::int64_t integer = 0;
    if (plain_short_decimal(text, integer)) {
        tape_.push_int(integer);
        return true;
    }
    if (options_.yaml11_warnings) {
        if (auto diff = version_difference(options_.mode, text, true, std::nullopt)) {
            const Span at = span_at(token);
            warnings_.push_back(version_warning(text, *diff, at.line, at.column));
        }
    }
    push_resolved(resolve(options_.mode, text, true, std::nullopt), text);
    return true;
}

void StreamDecoder::push_resolved(const Resolved& r, std::string_view text) {
    if (push_resolved_scalar(tape_, r, text)) return;
    // A merge key: a marker until merge keys are applied, the merge tag around the text "<<".
    tape_.push_text(TapeNode::Kind::Tagged, kMergeTag);
    tape_.push_text(TapeNode::Kind::String, kMergeText);
    saw_merge_key_ = true;
}

// ---------------------------------------------------------------------------
// Collections

// A node of a block mapping entry (explicit key or value), where a
// SequenceEntry at the entry's own column starts an indentless sequence.
bool StreamDecoder::decode_mapping_value(bool flow) {
    // Most keys and values are lone scalars: read without the general node path.
    if (lone_scalar_here()) return decode_lone_scalar();
    indentless_allowed_ = !flow;
    return decode_value_or_null();
}

bool StreamDecoder::decode_lone_scalar() {
    const Token& t = current();
    indentless_allowed_ = false;
    ++pos_;
    return decode_untagged_scalar(tokens_.text(t), TokenList::style(t), pos_ - 1);
}

bool StreamDecoder::decode_value_or_null() {
    bool present = false;
    if (!decode_node(present)) return false;
    if (!present) tape_.push_null();
    return true;
}

bool StreamDecoder::is_merge_marker(std::size_t node) const {
    const TapeNode& n = tape_.nodes[node];
    return n.kind() == TapeNode::Kind::Tagged && n.text_view() == kMergeTag;
}

bool StreamDecoder::check_entry(std::unordered_set<std::string>* seen, std::size_t key_node, std::size_t key_token) {
    if (seen == nullptr && !options_.reject_complex_keys) return true;
    const TapeNode& key = tape_.nodes[key_node];
    if (options_.reject_complex_keys && key.is_collection()) {
        const char* what = key.kind() == TapeNode::Kind::Sequence ? "a sequence" : "a mapping";
        return fail(ErrorKind::ComplexKey, std::string("complex mapping key (") + what + " used as a key)",
                    span_at(key_token));
    }
    if (seen == nullptr || is_merge_marker(key_node)) return true;
    const Value key_value = tape_value(tape_, key_node);
    if (seen->insert(key_identity(key_value)).second) return true;
    if (options_.duplicate_keys_error) {
        return fail(ErrorKind::DuplicateKey, "duplicate mapping key: " + key_diagnostic(key_value),
                    span_at(key_token));
    }
    const Span key_at = span_at(key_token);
    warnings_.push_back(duplicate_key_warning(key_value, key_at.line, key_at.column));
    return true;
}

bool StreamDecoder::decode_mapping() {
    const bool flow = TokenList::flow(current());
    const std::uint32_t column = current().column;  // a block mapping's keys stand at this column
    ++pos_;
    const std::size_t header = tape_.open(TapeNode::Kind::Mapping);
    std::uint64_t count = 0;
    std::unordered_set<std::string> identities;
    const bool check_duplicates = options_.duplicate_keys_error || options_.duplicate_keys_warn;
    std::unordered_set<std::string>* seen = check_duplicates ? &identities : nullptr;
    for (;;) {
        const TokenKind k = kind();
        if (k == TokenKind::MappingEnd || k == TokenKind::BlockEnd) {
            ++pos_;
            break;
        }
        if (at_end() || is_document_boundary(k)) break;
        if (k == TokenKind::FlowEntry) {
            ++pos_;
            continue;
        }
        const std::size_t entry_start = pos_;
        const std::size_t key_node = tape_.nodes.size();
        std::size_t key_at = 0;
        bool has_value = false;
        if (k == TokenKind::Key) {
            ++pos_;
            key_at = pos_;
            if (kind() == TokenKind::Value) {
                tape_.push_null();  // `?` with nothing after it: the key is an empty node
            } else if (!decode_mapping_value(flow)) {
                return false;  // `?` may hold an indentless sequence
            }
            if (kind() == TokenKind::Value) {
                if (!flow && !value_indented(column)) return false;
                ++pos_;
                if (!decode_mapping_value(flow)) return false;
                has_value = true;
            }
        } else if (k == TokenKind::Value) {
            // `: value` with nothing before the `:`: the key is an empty node.
            key_at = pos_;
            tape_.push_null();
            if (!flow && !value_indented(column)) return false;
            ++pos_;
            if (!decode_mapping_value(flow)) return false;
            has_value = true;
        } else {
            // A key without its Key token, as in a flow mapping's JSON-like entries.
            std::size_t probe = pos_;
            while (probe < tokens_.size() &&
                   (at(probe).kind == TokenKind::Anchor || at(probe).kind == TokenKind::Tag)) {
                ++probe;
            }
            const bool key_is_scalar = probe < tokens_.size() && at(probe).kind == TokenKind::Scalar;
            if (!flow && probe < tokens_.size() && is_block_collection_start(tokens_, at(probe))) {
                if (auto slip = explain_misplaced_collection(tokens_, pos_, probe)) return fail(std::move(*slip));
                return fail("a block collection cannot be a mapping key", tokens_.span(at(probe)));
            }
            key_at = pos_;
            if (!decode_value_or_null()) return false;
            if (kind() == TokenKind::Value) {
                if (!flow && !value_indented(column)) return false;
                ++pos_;
                if (!decode_mapping_value(flow)) return false;
                has_value = true;
            } else if (!flow && key_is_scalar) {
                return fail("expected ':' after mapping key", span_at(key_at));
            }
        }
        if (pos_ == entry_start) {
            // Nothing could be read here: a token no mapping entry can start with.
            return fail(std::string("unexpected ") + token_kind_name(kind()) + " in a mapping", span_here());
        }
        if (!has_value) tape_.push_null();
        // Without key policies (the usual load) there is nothing to check.
        const bool checked = seen != nullptr || options_.reject_complex_keys;
        if (checked && !check_entry(seen, key_node, key_at)) return false;
        ++count;
    }
    tape_.close(header, count);
    return true;
}

// At a block mapping's `:`: a value on a later line must be indented past the
// keys; one at the keys' column is the next key, which lacks its `:`
// (`key:` then `value` below it). An indentless sequence is the exception.
bool StreamDecoder::value_indented(std::uint32_t key_column) {
    const std::size_t next = pos_ + 1;
    if (next >= tokens_.size()) return true;
    const Token& t = at(next);
    if (starts_no_value_after_colon(t.kind)) return true;
    if (t.line > current().line && t.column <= key_column) {
        return fail("expected ':' after mapping key", tokens_.span(t));
    }
    return true;
}

bool StreamDecoder::fail_stray_in_sequence() {
    if (auto slip = explain_misplaced_collection(tokens_, pos_, pos_)) return fail(std::move(*slip));
    return fail("a block sequence entry must start with '- '", span_here());
}

bool StreamDecoder::decode_sequence() {
    const bool flow = TokenList::flow(current());
    ++pos_;
    const std::size_t header = tape_.open(TapeNode::Kind::Sequence);
    std::uint64_t count = 0;
    for (;;) {
        const TokenKind k = kind();
        if (k == TokenKind::SequenceEntry || k == TokenKind::FlowEntry) {
            ++pos_;
            if (!decode_sequence_item(flow, true, count)) return false;
            continue;
        }
        if (at_end() || is_document_boundary(k)) break;
        if (k == TokenKind::MappingEnd || k == TokenKind::SequenceEnd || k == TokenKind::BlockEnd) {
            ++pos_;
            break;
        }
        // Only a flow sequence's first item comes without an entry token:
        // in a block sequence anything else lines up with none of its entries.
        if (!flow) return fail_stray_in_sequence();
        const std::size_t before = pos_;
        const std::uint64_t count_before = count;
        if (!decode_sequence_item(flow, false, count)) return false;
        if (count == count_before && pos_ == before) break;  // nothing more belongs to this sequence
    }
    tape_.close(header, count);
    return true;
}

// The rest of a flow sequence's single-pair mapping (`[a: 1]`, `[? a : 1]`)
// once its header and key are on the tape: the value after a `:`, else null.
bool StreamDecoder::decode_single_pair(std::size_t header, std::size_t key_node, std::size_t key_token) {
    if (kind() == TokenKind::Value) {
        ++pos_;
        if (!decode_value_or_null()) return false;
    } else {
        tape_.push_null();
    }
    if (!check_entry(nullptr, key_node, key_token)) return false;
    tape_.close(header, 1);
    return true;
}

bool StreamDecoder::decode_sequence_item(bool flow, bool after_entry, std::uint64_t& count) {
    const TokenKind next = kind();
    if (flow) {
        // A trailing comma before `]` adds no item.
        if (next == TokenKind::SequenceEnd || next == TokenKind::FlowEntry) return true;
    } else if (next == TokenKind::MappingEnd || next == TokenKind::SequenceEnd || next == TokenKind::BlockEnd ||
               next == TokenKind::SequenceEntry) {
        tape_.push_null();  // `- ` with nothing after it
        ++count;
        return true;
    }
    if (flow && (next == TokenKind::Key)) {
        // `[? a : 1]`: a single-pair mapping.
        ++pos_;
        const std::size_t key_at = pos_;
        const std::size_t header = tape_.open(TapeNode::Kind::Mapping);
        if (kind() == TokenKind::Value) {
            tape_.push_null();  // `[? : 1]`: the key is an empty node
        } else if (!decode_value_or_null()) {
            return false;
        }
        ++count;
        return decode_single_pair(header, header + 1, key_at);
    }
    const std::size_t item_at = pos_;
    const std::size_t item_node = tape_.nodes.size();
    bool present = false;
    if (lone_scalar_here()) {
        present = true;
        if (!decode_lone_scalar()) return false;
    } else if (!decode_node(present)) {
        return false;
    }
    if (flow && kind() == TokenKind::Value) {
        // `[a: 1]`: a single-pair mapping whose key was read as the item.
        if (!present) tape_.push_null();
        insert_node(item_node);
        tape_.nodes[item_node].head = TapeNode::make_head(TapeNode::Kind::Mapping, 0);
        ++count;
        return decode_single_pair(item_node, item_node + 1, item_at);
    }
    if (present) {
        ++count;
    } else if (!flow && after_entry) {
        tape_.push_null();  // `- &a` or `- # comment`: the entry is there, its node is empty
        ++count;
    }
    return true;
}

bool StreamDecoder::decode_indentless_sequence() {
    const std::size_t header = tape_.open(TapeNode::Kind::Sequence);
    std::uint64_t count = 0;
    while (kind() == TokenKind::SequenceEntry) {
        ++pos_;
        ++count;
        const TokenKind next = kind();
        if (next == TokenKind::MappingEnd || next == TokenKind::SequenceEnd || next == TokenKind::BlockEnd ||
            next == TokenKind::Key || next == TokenKind::SequenceEntry) {
            tape_.push_null();
            continue;
        }
        if (!decode_value_or_null()) return false;
    }
    tape_.close(header, count);
    return true;
}

// ---------------------------------------------------------------------------

namespace {

// The token-list path into `out`, which holds nothing yet.
std::optional<Error> decode_tokens_into(std::string_view text, std::uint32_t file_id, const DecodeOptions& options,
                                        DecodedTape& out) {
    auto tokens = tokenize(text, file_id);
    if (!tokens.ok()) return std::move(tokens).error();
    // The tape points into the token list's texts, so the list moves to the
    // heap before decoding and stays there.
    out.tokens = std::make_unique<TokenList>(std::move(tokens).value());
    // About one node per token (fewer, unless aliases repeat subtrees): one
    // allocation instead of a doubling series of large copies.
    out.tape.nodes.reserve(out.tokens->size() + 1);
    StreamDecoder decoder(*out.tokens, options, out.tape);
    if (!decoder.run(out)) return std::move(decoder.error());
    for (const Token& token : *out.tokens) out.anchors += token.kind == TokenKind::Anchor ? 1 : 0;
    out.tokens->release_tokens();  // the tape needs their texts only
    return std::nullopt;
}

}  // namespace

std::optional<Error> decode_tape_into(std::string_view text, std::uint32_t file_id, const DecodeOptions& options,
                                      DecodedTape& out) {
    if (decode_tape_direct_into(text, file_id, options, out)) return std::nullopt;
    out.clear();  // what the direct reader wrote goes
    return decode_tokens_into(text, file_id, options, out);
}

Result<DecodedTape> decode_tape(std::string_view text, std::uint32_t file_id, const DecodeOptions& options) {
    DecodedTape out;
    if (auto error = decode_tape_into(text, file_id, options, out)) return std::move(*error);
    return out;
}

Result<DecodedTape> decode_tape_tokens(std::string_view text, std::uint32_t file_id, const DecodeOptions& options) {
    DecodedTape out;
    if (auto error = decode_tokens_into(text, file_id, options, out)) return std::move(*error);
    return out;
}

std::vector<Value> tape_documents(const DecodedTape& decoded) {
    std::vector<Value> documents;
    documents.reserve(decoded.documents.size());
    for (const std::size_t root : decoded.documents) documents.push_back(tape_value(decoded.tape, root));
    if (decoded.has_merge_keys) {
        for (Value& document : documents) apply_merge_keys(document);
    }
    return documents;
}

Result<DecodedStream> decode_stream(std::string_view text, std::uint32_t file_id, const DecodeOptions& options) {
    auto decoded = decode_tape(text, file_id, options);
    if (!decoded.ok()) return std::move(decoded).error();
    DecodedStream out;
    out.documents = tape_documents(decoded.value());
    out.warnings = std::move(decoded.value().warnings);
    return out;
}

}  // namespace torvex
