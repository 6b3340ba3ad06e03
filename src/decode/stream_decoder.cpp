#include "decode/stream_decoder.hpp"

#include <utility>

#include "core/stack_guard.hpp"
#include "decode/key_identity.hpp"
#include "scanner/scanner.hpp"

namespace torvex {

namespace {

constexpr std::string_view kMergeTag = "tag:yaml.org,2002:merge";

bool is_document_boundary(TokenKind k) {
    return k == TokenKind::StreamEnd || k == TokenKind::DocumentStart || k == TokenKind::DocumentEnd;
}

bool is_block_collection_start(const TokenList& tokens, const Token& t) {
    return ((t.kind == TokenKind::MappingStart || t.kind == TokenKind::SequenceStart) && !tokens.flow(t)) ||
           t.kind == TokenKind::SequenceEntry;
}

bool is_merge_marker(const Value& v) {
    return v.kind() == Value::Kind::Tagged && v.as_tagged().tag == kMergeTag;
}

Value merge_marker() { return Value::tagged(std::string(kMergeTag), Value::string("<<")); }

// Moves the elements above `base` off a scratch stack into a vector of their exact size.
template <class T>
std::vector<T> take_from(std::vector<T>& stack, std::size_t base) {
    std::vector<T> out;
    out.reserve(stack.size() - base);
    for (std::size_t i = base; i < stack.size(); ++i) out.push_back(std::move(stack[i]));
    stack.erase(stack.begin() + static_cast<std::ptrdiff_t>(base), stack.end());
    return out;
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

bool StreamDecoder::run(DecodedStream& out) {
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
                Value document;
                bool present = false;
                if (!decode_node(document, present)) return false;
                out.documents.push_back(std::move(document));  // an absent body is the null document
                if (!finish_document()) return false;
                continue;
            }
            default: {
                Value document;
                bool present = false;
                if (!decode_node(document, present)) return false;
                if (present) out.documents.push_back(std::move(document));
                if (!finish_document()) return false;
                continue;
            }
        }
    }
    out.warnings = std::move(warnings_);
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

bool StreamDecoder::decode_node(Value& out, bool& present) {
    present = false;
    if (at_end()) return true;
    if (depth_ >= kMaxNestingDepth) {
        return fail("maximum nesting depth (" + std::to_string(kMaxNestingDepth) + ") exceeded", span_here());
    }
    ++depth_;
    Properties props;
    props.start = pos_;
    const bool indentless = std::exchange(indentless_allowed_, false);
    // Only collections recurse, so only they go through the stack guard (see decode_node_body).
    const bool ok = decode_node_body(out, present, props, indentless);
    --depth_;
    if (!ok) return false;
    if (props.anchor) register_anchor(props, present ? out : Value());
    return true;
}

bool StreamDecoder::decode_node_body(Value& out, bool& present, Properties& props, bool indentless_allowed) {
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
                return decode_alias(out);
            case TokenKind::Scalar: {
                ++pos_;
                present = true;
                return decode_scalar(tokens_.text(t), TokenList::style(t), props, tokens_.span(t), out);
            }
            case TokenKind::MappingStart:
                present = true;
                return with_stack([&] { return decode_mapping(out); }) && wrap_with_tag(props, tokens_.span(t), out);
            case TokenKind::SequenceStart:
                present = true;
                return with_stack([&] { return decode_sequence(out); }) && wrap_with_tag(props, tokens_.span(t), out);
            case TokenKind::SequenceEntry:
                if (!indentless_allowed) break;
                present = true;
                return with_stack([&] { return decode_indentless_sequence(out); }) &&
                       wrap_with_tag(props, tokens_.span(t), out);
            case TokenKind::Value:
            case TokenKind::FlowEntry:
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
        return decode_scalar("", ScalarStyle::Plain, props, span_here(), out);
    }
    return true;
}

bool StreamDecoder::decode_alias(Value& out) {
    const Span at = span_here();
    const std::string_view name = tokens_.text(current());
    ++pos_;
    const auto found = anchors_.find(name);
    if (found == anchors_.end()) return fail("unknown alias: *" + std::string(name), at);
    const std::uint64_t nodes = found->second.nodes;
    expanded_nodes_ = nodes > UINT64_MAX - expanded_nodes_ ? UINT64_MAX : expanded_nodes_ + nodes;
    if (expanded_nodes_ > kMaxExpandedNodes) {
        return fail("document expands to too many nodes (possible alias bomb)", at);
    }
    out = found->second.value;
    return true;
}

void StreamDecoder::register_anchor(const Properties& props, const Value& value) {
    // Defining a name again replaces the earlier definition.
    anchors_.insert_or_assign(*props.anchor, Anchor{value, value.node_count()});
}

bool StreamDecoder::resolve_tag(const Properties& props, Span at, std::string& resolved, bool& core) {
    std::string problem;
    auto full = directives_.resolve_tag(*props.tag, problem);
    if (!full) return fail(std::move(problem), at);
    resolved = std::move(*full);
    core = is_core_tag(*props.tag, resolved);
    return true;
}

bool StreamDecoder::wrap_with_tag(const Properties& props, Span at, Value& value) {
    if (!props.tag) return true;
    std::string tag;
    bool core = false;
    if (!resolve_tag(props, at, tag, core)) return false;
    if (!core) value = Value::tagged(std::move(tag), std::move(value));
    return true;  // core tags on collections leave no trace
}

bool StreamDecoder::decode_scalar(std::string_view text, ScalarStyle style, const Properties& props, Span at,
                                  Value& out) {
    std::string tag;
    bool core = true;
    if (props.tag && !resolve_tag(props, span_at(props.start), tag, core)) return false;
    const bool plain = style == ScalarStyle::Plain;
    if (!core) {
        // Unknown tags resolve as str; the tag wraps the text for the converter.
        out = Value::tagged(std::move(tag), Value::string(text));
        return true;
    }
    const std::optional<std::string_view> tag_view =
        props.tag ? std::optional<std::string_view>(tag) : std::nullopt;
    if (options_.yaml11_warnings) {
        if (auto diff = version_difference(options_.mode, text, plain, tag_view)) {
            warnings_.push_back(version_warning(text, *diff, at.line, at.column));
        }
    }
    const Resolved r = resolve(options_.mode, text, plain, tag_view);
    switch (r.kind) {
        case ResolvedKind::Null: out.set_null(); break;
        case ResolvedKind::Bool: out.set_bool(r.boolean); break;
        case ResolvedKind::Int: out.set_int(r.integer); break;
        case ResolvedKind::BigInt: out = Value::big_int(std::string(text)); break;
        case ResolvedKind::Float: out.set_float(r.floating); break;
        case ResolvedKind::Str: out.set_string(text); break;
        case ResolvedKind::Merge:
            out = merge_marker();
            saw_merge_key_ = true;
            break;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Collections

// A node of a block mapping entry (explicit key or value), where a
// SequenceEntry at the entry's own column starts an indentless sequence.
bool StreamDecoder::decode_mapping_value(bool flow, Value& out) {
    indentless_allowed_ = !flow;
    return decode_value_or_null(out);
}

bool StreamDecoder::decode_value_or_null(Value& out) {
    bool present = false;
    if (!decode_node(out, present)) return false;
    if (!present) out = Value();
    return true;
}

bool StreamDecoder::add_entry(Mapping& entries, std::unordered_set<std::string>* seen, Value& key,
                              std::size_t key_token, Value& value) {
    if (options_.reject_complex_keys && key.is_collection()) {
        const char* what = key.kind() == Value::Kind::Sequence ? "a sequence" : "a mapping";
        return fail(ErrorKind::ComplexKey, std::string("complex mapping key (") + what + " used as a key)",
                    span_at(key_token));
    }
    if (seen != nullptr && !is_merge_marker(key) && !seen->insert(key_identity(key)).second) {
        if (options_.duplicate_keys_error) {
            return fail(ErrorKind::DuplicateKey, "duplicate mapping key: " + key_diagnostic(key), span_at(key_token));
        }
        const Span key_at = span_at(key_token);
        warnings_.push_back("duplicate mapping key '" + key_diagnostic(key) + "' at line " +
                            std::to_string(key_at.line + 1UL) + ", column " + std::to_string(key_at.column + 1UL) +
                            "; keeping the last value");
    }
    entries.emplace_back(std::move(key), std::move(value));
    return true;
}

bool StreamDecoder::decode_mapping(Value& out) {
    const bool flow = TokenList::flow(current());
    const std::uint32_t column = current().column;  // a block mapping's keys stand at this column
    ++pos_;
    // Entries collect on the shared scratch stack and move into a vector of
    // exactly their number at the end: one allocation per mapping.
    const std::size_t base = entry_stack_.size();
    Mapping& entries = entry_stack_;
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
        Value key;
        Value value;
        std::size_t key_at = 0;
        if (k == TokenKind::Key) {
            ++pos_;
            key_at = pos_;
            if (!decode_mapping_value(flow, key)) return false;  // `?` may hold an indentless sequence
            if (kind() == TokenKind::Value) {
                if (!flow && !value_indented(column)) return false;
                ++pos_;
                if (!decode_mapping_value(flow, value)) return false;
            }
        } else {
            // A key without its Key token, as in a flow mapping's JSON-like entries.
            std::size_t probe = pos_;
            while (probe < tokens_.size() &&
                   (at(probe).kind == TokenKind::Anchor || at(probe).kind == TokenKind::Tag)) {
                ++probe;
            }
            const bool key_is_scalar = probe < tokens_.size() && at(probe).kind == TokenKind::Scalar;
            if (!flow && probe < tokens_.size() && is_block_collection_start(tokens_, at(probe))) {
                return fail("a block collection cannot be a mapping key", tokens_.span(at(probe)));
            }
            key_at = pos_;
            if (!decode_value_or_null(key)) return false;
            if (kind() == TokenKind::Value) {
                if (!flow && !value_indented(column)) return false;
                ++pos_;
                if (!decode_mapping_value(flow, value)) return false;
            } else if (!flow && key_is_scalar) {
                return fail("expected ':' after mapping key", span_at(key_at));
            }
        }
        if (pos_ == entry_start) {
            // Nothing could be read here: a token no mapping entry can start with.
            return fail(std::string("unexpected ") + token_kind_name(kind()) + " in a mapping", span_here());
        }
        if (!add_entry(entries, seen, key, key_at, value)) return false;
    }
    out = Value::mapping(take_from(entry_stack_, base));
    return true;
}

// At a block mapping's `:`: a value on a later line must be indented past the
// keys; one at the keys' column is the next key, which lacks its `:`
// (`key:` then `value` below it). An indentless sequence is the exception.
bool StreamDecoder::value_indented(std::uint32_t key_column) {
    const std::size_t next = pos_ + 1;
    if (next >= tokens_.size()) return true;
    const Token& t = at(next);
    switch (t.kind) {
        case TokenKind::SequenceEntry:
        case TokenKind::BlockEnd:
        case TokenKind::MappingEnd:
        case TokenKind::Key:
        case TokenKind::Value:
        case TokenKind::StreamEnd:
        case TokenKind::DocumentStart:
        case TokenKind::DocumentEnd: return true;
        default: break;
    }
    if (t.line > current().line && t.column <= key_column) {
        return fail("expected ':' after mapping key", tokens_.span(t));
    }
    return true;
}

bool StreamDecoder::decode_sequence(Value& out) {
    const bool flow = TokenList::flow(current());
    ++pos_;
    const std::size_t base = item_stack_.size();
    Sequence& items = item_stack_;
    for (;;) {
        const TokenKind k = kind();
        if (k == TokenKind::SequenceEntry || k == TokenKind::FlowEntry) {
            ++pos_;
            if (!decode_sequence_item(flow, true, items)) return false;
            continue;
        }
        if (at_end() || is_document_boundary(k)) break;
        if (k == TokenKind::MappingEnd || k == TokenKind::SequenceEnd || k == TokenKind::BlockEnd) {
            ++pos_;
            break;
        }
        const std::size_t before = pos_;
        const std::size_t count = items.size();
        if (!decode_sequence_item(flow, false, items)) return false;
        if (items.size() == count && pos_ == before) break;  // nothing more belongs to this sequence
    }
    out = Value::sequence(take_from(item_stack_, base));
    return true;
}

bool StreamDecoder::decode_sequence_item(bool flow, bool after_entry, Sequence& items) {
    const TokenKind next = kind();
    if (flow) {
        // A trailing comma before `]` adds no item.
        if (next == TokenKind::SequenceEnd || next == TokenKind::FlowEntry) return true;
    } else if (next == TokenKind::MappingEnd || next == TokenKind::SequenceEnd || next == TokenKind::BlockEnd ||
               next == TokenKind::SequenceEntry) {
        items.emplace_back();  // `- ` with nothing after it
        return true;
    }
    if (flow && (next == TokenKind::Key)) {
        // `[? a : 1]`: a single-pair mapping.
        ++pos_;
        const std::size_t key_at = pos_;
        Value key;
        Value value;
        if (!decode_value_or_null(key)) return false;
        if (kind() == TokenKind::Value) {
            ++pos_;
            if (!decode_value_or_null(value)) return false;
        }
        Mapping pair;
        if (!add_entry(pair, nullptr, key, key_at, value)) return false;
        items.push_back(Value::mapping(std::move(pair)));
        return true;
    }
    const std::size_t item_at = pos_;
    Value item;
    bool present = false;
    if (!decode_node(item, present)) return false;
    if (flow && kind() == TokenKind::Value) {
        // `[a: 1]`: a single-pair mapping.
        ++pos_;
        Value value;
        if (!decode_value_or_null(value)) return false;
        Mapping pair;
        if (!add_entry(pair, nullptr, item, item_at, value)) return false;
        items.push_back(Value::mapping(std::move(pair)));
        return true;
    }
    if (present) {
        items.push_back(std::move(item));
    } else if (!flow && after_entry) {
        items.emplace_back();  // `- &a` or `- # comment`: the entry is there, its node is empty
    }
    return true;
}

bool StreamDecoder::decode_indentless_sequence(Value& out) {
    const std::size_t base = item_stack_.size();
    Sequence& items = item_stack_;
    while (kind() == TokenKind::SequenceEntry) {
        ++pos_;
        const TokenKind next = kind();
        if (next == TokenKind::MappingEnd || next == TokenKind::SequenceEnd || next == TokenKind::BlockEnd ||
            next == TokenKind::Key || next == TokenKind::SequenceEntry) {
            items.emplace_back();
            continue;
        }
        Value item;
        if (!decode_value_or_null(item)) return false;
        items.push_back(std::move(item));
    }
    out = Value::sequence(take_from(item_stack_, base));
    return true;
}

// ---------------------------------------------------------------------------

Result<DecodedStream> decode_stream(std::string_view text, std::uint32_t file_id, const DecodeOptions& options) {
    auto tokens = tokenize(text, file_id);
    if (!tokens.ok()) return std::move(tokens).error();
    DecodedStream out;
    StreamDecoder decoder(tokens.value(), options);
    if (!decoder.run(out)) return std::move(decoder.error());
    if (decoder.saw_merge_key()) {
        for (Value& document : out.documents) apply_merge_keys(document);
    }
    return out;
}

}  // namespace torvex
