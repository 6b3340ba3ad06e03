#include "encode/json_emitter.hpp"

#include <algorithm>
#include <vector>

#include "core/ordering.hpp"
#include "core/stack_guard.hpp"
#include "encode/float_text.hpp"
#include "encode/json_string.hpp"
#include "encode/number_text.hpp"

namespace torvex {

namespace {

using Kind = TapeNode::Kind;

// Writes the subtree at a cursor into the tape and moves the cursor past it.
class JsonEmitter {
public:
    JsonEmitter(const Tape& tape, OutBuffer& out, unsigned indent, bool sort_keys)
        : tape_(tape), nodes_(tape.nodes), out_(out), indent_(indent), sort_(sort_keys) {}

    bool value(std::size_t& i, std::size_t depth) {
        const TapeNode& node = nodes_[i++];
        switch (node.kind()) {
            case Kind::Null:
                out_.append("null");
                return true;
            case Kind::Bool:
                out_.append(node.integer != 0 ? std::string_view("true") : std::string_view("false"));
                return true;
            case Kind::Int:
                append_int(out_, node.integer);
                return true;
            case Kind::BigInt:
                append_big_int(out_, node.text_view());
                return true;
            case Kind::Float: {
                char* p = out_.reserve(kFloatTextMax);
                out_.advance(json_float_text(node.floating, p));
                return true;
            }
            case Kind::String:
                append_json_string(out_, node.text_view());
                return true;
            case Kind::Sequence:
                return with_stack_at(depth, [&] { return sequence(node, i, depth); });
            case Kind::Mapping:
                return with_stack_at(depth, [&] { return mapping(node, i, depth); });
            case Kind::Tagged:  // tags are dropped
                return with_stack([&] { return value(i, depth); });
        }
        return true;
    }

    Error error() const { return Error::plain(ErrorKind::Encode, kJsonCollectionKeyMessage); }

    // A mapping key: a string escaped, another scalar's text in quotes; false for a collection.
    bool key(std::size_t i) {
        const TapeNode& k = nodes_[untag(i)];
        if (k.kind() == Kind::String) {
            append_json_string(out_, k.text_view());
            return true;
        }
        // Scalar key texts are plain ASCII: no escaping needed.
        out_.put('"');
        if (!key_text(k, out_)) return false;
        out_.put('"');
        return true;
    }

private:
    void newline(std::size_t level) {
        if (indent_ == 0) return;
        out_.put('\n');
        out_.spaces(static_cast<std::size_t>(indent_) * level);
    }

    bool sequence(const TapeNode& node, std::size_t& i, std::size_t depth) {
        if (node.size() == 0) {
            out_.append("[]");
            return true;
        }
        out_.put('[');
        for (std::uint64_t n = 0; n < node.size(); ++n) {
            if (n) out_.put(',');
            newline(depth + 1);
            if (!value(i, depth + 1)) return false;
        }
        newline(depth);
        out_.put(']');
        return true;
    }

    // The key node at `i` with its tags skipped.
    std::size_t untag(std::size_t i) const noexcept {
        while (nodes_[i].kind() == Kind::Tagged) ++i;
        return i;
    }

    // Writes the text of a scalar key (without quotes) to the buffer, or
    // returns false for a collection.
    static bool key_text(const TapeNode& k, OutBuffer& to) {
        switch (k.kind()) {
            case Kind::Null: to.append("null"); return true;
            case Kind::Bool: to.append(k.integer != 0 ? std::string_view("true") : std::string_view("false")); return true;
            case Kind::Int: append_int(to, k.integer); return true;
            case Kind::BigInt: append_big_int(to, k.text_view()); return true;
            case Kind::Float: {
                char* p = to.reserve(kFloatTextMax);
                to.advance(json_float_text(k.floating, p));
                return true;
            }
            case Kind::String: to.append(k.text_view()); return true;
            default: return false;
        }
    }

    bool member(std::string_view key, std::size_t value_at, std::size_t depth) {
        append_json_string(out_, key);
        out_.put(':');
        if (indent_) out_.put(' ');
        return value(value_at, depth + 1);
    }

    bool mapping(const TapeNode& node, std::size_t& i, std::size_t depth) {
        if (node.size() == 0) {
            out_.append("{}");
            return true;
        }
        if (!sort_ || node.size() < 2) {
            out_.put('{');
            for (std::uint64_t n = 0; n < node.size(); ++n) {
                if (n) out_.put(',');
                newline(depth + 1);
                if (!key(i)) return false;
                i = tape_.end_of(i);
                out_.put(':');
                if (indent_) out_.put(' ');
                if (!value(i, depth + 1)) return false;
            }
            newline(depth);
            out_.put('}');
            return true;
        }

        // Sorted: every key's text first (non-string keys rendered into the
        // arena), then a stable sort by bytes.
        const std::size_t base = keys_.size();
        const std::size_t arena_base = arena_.size();
        for (std::uint64_t n = 0; n < node.size(); ++n) {
            const TapeNode& k = nodes_[untag(i)];
            const std::size_t value_at = tape_.end_of(i);
            if (k.kind() == Kind::String) {
                keys_.push_back({value_at, k.text, 0, k.size()});
            } else {
                const std::size_t off = arena_.size();
                if (!key_text(k, arena_)) return false;
                keys_.push_back({value_at, nullptr, off, arena_.size() - off});
            }
            i = tape_.end_of(value_at);
        }
        auto text = [this](const KeyRef& r) {
            return std::string_view(r.ptr ? r.ptr : arena_.data() + r.off, r.len);
        };
        std::stable_sort(keys_.begin() + static_cast<std::ptrdiff_t>(base), keys_.end(),
                         [&](const KeyRef& a, const KeyRef& b) { return bytewise_less(text(a), text(b)); });
        out_.put('{');
        for (std::size_t n = 0; n < node.size(); ++n) {
            if (n) out_.put(',');
            newline(depth + 1);
            const KeyRef r = keys_[base + n];
            if (!member(text(r), r.value_at, depth)) return false;
        }
        keys_.resize(base);
        arena_.truncate(arena_base);
        newline(depth);
        out_.put('}');
        return true;
    }

    struct KeyRef {
        std::size_t value_at;  // the entry's value node
        const char* ptr;       // a string key's own bytes, or null: the text is in the arena
        std::size_t off;
        std::size_t len;
    };

    const Tape& tape_;
    const std::vector<TapeNode>& nodes_;
    OutBuffer& out_;
    const unsigned indent_;
    const bool sort_;
    std::vector<KeyRef> keys_;
    OutBuffer arena_{0};
};

}  // namespace

Result<void> emit_json_into(OutBuffer& out, const Tape& tape, std::size_t root, unsigned indent, bool sort_keys,
                            std::size_t level) {
    JsonEmitter emitter(tape, out, indent, sort_keys);
    if (!emitter.value(root, level)) return emitter.error();
    return Ok{};
}

Result<void> emit_json_key_into(OutBuffer& out, const Tape& tape, std::size_t root) {
    JsonEmitter emitter(tape, out, 0, false);
    if (!emitter.key(root)) return emitter.error();
    return Ok{};
}

Result<void> emit_json_into(OutBuffer& out, const Value& root, unsigned indent, bool sort_keys) {
    Tape tape;
    append_value(tape, root);
    return emit_json_into(out, tape, 0, indent, sort_keys);
}

Result<std::string> emit_json(const Value& root, unsigned indent, bool sort_keys) {
    OutBuffer out(1024);
    Result<void> r = emit_json_into(out, root, indent, sort_keys);
    if (!r) return std::move(r).error();
    return std::move(out).take();
}

}  // namespace torvex
