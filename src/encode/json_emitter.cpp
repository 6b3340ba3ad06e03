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

using Kind = Value::Kind;

const Value& untag(const Value& v) noexcept {
    const Value* p = &v;
    while (p->kind() == Kind::Tagged) p = p->as_tagged().inner.get();
    return *p;
}

class JsonEmitter {
public:
    JsonEmitter(OutBuffer& out, unsigned indent, bool sort_keys) : out_(out), indent_(indent), sort_(sort_keys) {}

    bool value(const Value& v, std::size_t depth) {
        switch (v.kind()) {
            case Kind::Null:
                out_.append("null");
                return true;
            case Kind::Bool:
                out_.append(v.as_bool() ? std::string_view("true") : std::string_view("false"));
                return true;
            case Kind::Int:
                append_int(out_, v.as_int());
                return true;
            case Kind::BigInt:
                append_big_int(out_, v.big_int_text());
                return true;
            case Kind::Float: {
                char* p = out_.reserve(kFloatTextMax);
                out_.advance(json_float_text(v.as_float(), p));
                return true;
            }
            case Kind::String:
                append_json_string(out_, v.as_string());
                return true;
            case Kind::Sequence:
                return with_stack_at(depth, [&] { return sequence(v.as_sequence(), depth); });
            case Kind::Mapping:
                return with_stack_at(depth, [&] { return mapping(v.as_mapping(), depth); });
            case Kind::Tagged:
                return with_stack([&] { return value(*v.as_tagged().inner, depth); });
        }
        return true;
    }

    Error error() const { return Error::plain(ErrorKind::Encode, kJsonCollectionKeyMessage); }

private:
    void newline(std::size_t level) {
        if (indent_ == 0) return;
        out_.put('\n');
        out_.spaces(static_cast<std::size_t>(indent_) * level);
    }

    bool sequence(const Sequence& s, std::size_t depth) {
        if (s.empty()) {
            out_.append("[]");
            return true;
        }
        out_.put('[');
        bool first = true;
        for (const Value& item : s) {
            if (!first) out_.put(',');
            first = false;
            newline(depth + 1);
            if (!value(item, depth + 1)) return false;
        }
        newline(depth);
        out_.put(']');
        return true;
    }

    // Writes the text of a scalar key (without quotes) to the buffer, or
    // returns false for a collection.
    bool key_text(const Value& key, OutBuffer& to) {
        const Value& k = untag(key);
        switch (k.kind()) {
            case Kind::Null: to.append("null"); return true;
            case Kind::Bool: to.append(k.as_bool() ? std::string_view("true") : std::string_view("false")); return true;
            case Kind::Int: append_int(to, k.as_int()); return true;
            case Kind::BigInt: append_big_int(to, k.big_int_text()); return true;
            case Kind::Float: {
                char* p = to.reserve(kFloatTextMax);
                to.advance(json_float_text(k.as_float(), p));
                return true;
            }
            case Kind::String: to.append(k.as_string()); return true;
            default: return false;
        }
    }

    bool member(const MapEntry& e, std::string_view key, std::size_t depth) {
        append_json_string(out_, key);
        out_.put(':');
        if (indent_) out_.put(' ');
        return value(e.value, depth + 1);
    }

    bool mapping(const Mapping& m, std::size_t depth) {
        if (m.empty()) {
            out_.append("{}");
            return true;
        }
        if (!sort_ || m.size() < 2) {
            out_.put('{');
            bool first = true;
            for (const MapEntry& e : m) {
                if (!first) out_.put(',');
                first = false;
                newline(depth + 1);
                const Value& k = untag(e.key);
                if (k.kind() == Kind::String) {
                    append_json_string(out_, k.as_string());
                } else {
                    // Scalar key texts are plain ASCII: no escaping needed.
                    out_.put('"');
                    if (!key_text(k, out_)) return false;
                    out_.put('"');
                }
                out_.put(':');
                if (indent_) out_.put(' ');
                if (!value(e.value, depth + 1)) return false;
            }
            newline(depth);
            out_.put('}');
            return true;
        }

        // Sorted: every key's text first (non-string keys rendered into the
        // arena), then a stable sort by bytes.
        const std::size_t base = keys_.size();
        const std::size_t arena_base = arena_.size();
        for (const MapEntry& e : m) {
            const Value& k = untag(e.key);
            if (k.kind() == Kind::String) {
                keys_.push_back({&e, k.as_string().data(), 0, k.as_string().size()});
            } else {
                const std::size_t off = arena_.size();
                if (!key_text(k, arena_)) return false;
                keys_.push_back({&e, nullptr, off, arena_.size() - off});
            }
        }
        auto text = [this](const KeyRef& r) {
            return std::string_view(r.ptr ? r.ptr : arena_.data() + r.off, r.len);
        };
        std::stable_sort(keys_.begin() + static_cast<std::ptrdiff_t>(base), keys_.end(),
                         [&](const KeyRef& a, const KeyRef& b) { return bytewise_less(text(a), text(b)); });
        out_.put('{');
        for (std::size_t i = 0; i < m.size(); ++i) {
            if (i) out_.put(',');
            newline(depth + 1);
            const KeyRef r = keys_[base + i];
            if (!member(*r.entry, text(r), depth)) return false;
        }
        keys_.resize(base);
        arena_.truncate(arena_base);
        newline(depth);
        out_.put('}');
        return true;
    }

    struct KeyRef {
        const MapEntry* entry;
        const char* ptr;  // a string key's own bytes, or null: the text is in the arena
        std::size_t off;
        std::size_t len;
    };

    OutBuffer& out_;
    const unsigned indent_;
    const bool sort_;
    std::vector<KeyRef> keys_;
    OutBuffer arena_{0};
};

}  // namespace

Result<void> emit_json_into(OutBuffer& out, const Value& root, unsigned indent, bool sort_keys) {
    JsonEmitter emitter(out, indent, sort_keys);
    if (!emitter.value(root, 0)) return emitter.error();
    return Ok{};
}

Result<std::string> emit_json(const Value& root, unsigned indent, bool sort_keys) {
    OutBuffer out(1024);
    Result<void> r = emit_json_into(out, root, indent, sort_keys);
    if (!r) return std::move(r).error();
    return std::move(out).take();
}

}  // namespace torvex
