// Builds a bounded Value tree from the input bytes, emits JSON and checks
// what must hold for every tree: the text is valid UTF-8 and well-formed
// JSON (so non-finite floats came out as null), indentation matches the
// setting, and only a collection key makes it fail.
#include <cstddef>
#include <cstdint>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/utf8.hpp"
#include "encode/json_emitter.hpp"

namespace {

// Reads a bounded Value tree from fuzz bytes. Strings are always valid
// UTF-8: ASCII bytes are taken as they are, other bytes pick a piece from a
// table of tricky texts (keywords, indicators, line breaks, non-ASCII).
class ValueSource {
public:
    ValueSource(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}

    std::uint8_t byte() { return p_ < end_ ? *p_++ : 0; }

    torvex::Value value(int depth) {
        if (++nodes_ > 4000) return torvex::Value();
        const std::uint8_t k = byte();
        switch (depth >= 48 ? k % 7 : k % 10) {
            case 0: return torvex::Value();
            case 1: return torvex::Value::boolean(k & 16);
            case 2: {
                std::uint64_t v = 0;
                for (int i = 0, n = byte() % 9; i < n; ++i) v = (v << 8) | byte();
                return torvex::Value::integer(static_cast<std::int64_t>(v));
            }
            case 3: {
                std::uint64_t bits = 0;
                for (int i = 0; i < 8; ++i) bits = (bits << 8) | byte();
                double d;
                std::memcpy(&d, &bits, sizeof d);
                return torvex::Value::floating(d);
            }
            case 4: {
                std::string digits = (k & 16) ? "-" : ((k & 32) ? "+" : "");
                digits += static_cast<char>('1' + byte() % 9);
                for (int i = 0, n = 19 + byte() % 30; i < n; ++i) {
                    if ((k & 64) && i % 3 == 0) digits += '_';
                    digits += static_cast<char>('0' + byte() % 10);
                }
                return torvex::Value::big_int(std::move(digits));
            }
            case 5:
            case 6: return torvex::Value::string(text());
            case 7: {
                torvex::Sequence items;
                for (int i = 0, n = byte() % 6; i < n; ++i) items.push_back(value(depth + 1));
                return torvex::Value::sequence(std::move(items));
            }
            case 8: {
                torvex::Mapping entries;
                for (int i = 0, n = byte() % 6; i < n; ++i) {
                    torvex::Value key = value(depth + 1);
                    entries.push_back({std::move(key), value(depth + 1)});
                }
                return torvex::Value::mapping(std::move(entries));
            }
            default: {
                static const char* const kTags[] = {"!t", "!", "!!str", "tag:example.com,2000:x", "!a/b%20c", "!<x>"};
                return torvex::Value::tagged(kTags[byte() % 6], value(depth + 1));
            }
        }
    }

private:
    std::string text() {
        static const char* const kPieces[] = {
            "yes", "No", "~", "null", "true", ".inf", "-.Inf", ".NaN", "0x1F", "0o17", "1_000", "1:30", "012",
            "...", "---", "<<", "=", "y", ": ", " #", "\n", "\n\n", "\t", "\r\n", "\u0085", "\u2028", "\u2029",
            "\ufeff", "\uffff", "\u0080", "é", "😀"};
        std::string s;
        for (int i = 0, n = byte() % 24; i < n; ++i) {
            const std::uint8_t c = byte();
            if (c < 0x80)
                s += static_cast<char>(c);
            else if (c >= 0xF0)
                s.append(static_cast<std::size_t>(c - 0xEE) * 10, c & 1 ? ' ' : 'w');  // long runs for folding
            else
                s += kPieces[c % 32];
        }
        return s;
    }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
    std::size_t nodes_ = 0;
};

}  // namespace


namespace {

const torvex::Value& untag(const torvex::Value& v) {
    const torvex::Value* p = &v;
    while (p->kind() == torvex::Value::Kind::Tagged) p = p->as_tagged().inner.get();
    return *p;
}

bool has_collection_key(const torvex::Value& v) {
    using K = torvex::Value::Kind;
    const torvex::Value& u = untag(v);
    if (u.kind() == K::Sequence) {
        for (const auto& item : u.as_sequence())
            if (has_collection_key(item)) return true;
    } else if (u.kind() == K::Mapping) {
        for (const auto& e : u.as_mapping()) {
            if (untag(e.key).is_collection() || has_collection_key(e.value)) return true;
        }
    }
    return false;
}

// A strict JSON syntax check (RFC 8259), iterative.
class JsonChecker {
public:
    explicit JsonChecker(std::string_view s) : s_(s) {}

    bool check() {
        std::string stack;  // '[' or '{'
        bool need_value = true;
        ws();
        while (true) {
            if (need_value) {
                if (peek() == '[' || peek() == '{') {
                    stack += s_[i_++];
                    ws();
                    if (peek() == (stack.back() == '[' ? ']' : '}')) {
                        ++i_;
                        stack.pop_back();
                        need_value = false;
                    } else if (stack.back() == '{') {
                        if (!string() || !colon()) return false;
                    }
                    ws();
                    continue;
                }
                if (!scalar()) return false;
                need_value = false;
                ws();
                continue;
            }
            if (stack.empty()) return i_ == s_.size();
            const char c = peek();
            if (c == ',') {
                ++i_;
                ws();
                if (stack.back() == '{' && (!string() || !colon())) return false;
                need_value = true;
                ws();
            } else if (c == (stack.back() == '[' ? ']' : '}')) {
                ++i_;
                stack.pop_back();
                ws();
            } else {
                return false;
            }
        }
    }

private:
    char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
    void ws() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n')) ++i_;
    }
    bool colon() {
        ws();
        if (peek() != ':') return false;
        ++i_;
        ws();
        return true;
    }
    bool literal(std::string_view w) {
        if (s_.substr(i_, w.size()) != w) return false;
        i_ += w.size();
        return true;
    }
    bool digits() {
        const std::size_t start = i_;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
        return i_ > start;
    }
    bool number() {
        if (peek() == '-') ++i_;
        if (peek() == '0') {
            ++i_;
        } else if (!digits()) {
            return false;
        }
        if (peek() == '.') {
            ++i_;
            if (!digits()) return false;
        }
        return true;
    }
    bool string() {
        if (peek() != '"') return false;
        ++i_;
        while (i_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[i_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c == '\\') {
                const char e = peek();
                ++i_;
                if (e == 'u') {
                    for (int k = 0; k < 4; ++k, ++i_)
                        if (!std::isxdigit(static_cast<unsigned char>(peek()))) return false;
                } else if (!std::strchr("\"\\/bfnrt", e) || e == '\0') {
                    return false;
                }
            }
        }
        return false;
    }
    bool scalar() {
        switch (peek()) {
            case '"': return string();
            case 'n': return literal("null");
            case 't': return literal("true");
            case 'f': return literal("false");
            default: return number();
        }
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ValueSource src(data, size);
    const std::uint8_t a = src.byte();
    const unsigned indent = a % 3 == 0 ? 0 : (a % 3 == 1 ? 2 : 4);
    const bool sort = a & 4;
    const torvex::Value root = src.value(0);

    torvex::Result<std::string> r = torvex::emit_json(root, indent, sort);
    if (!r.ok()) {
        if (!has_collection_key(root)) std::abort();
        if (r.error().kind != torvex::ErrorKind::Encode) std::abort();
        return 0;
    }
    if (has_collection_key(root)) std::abort();
    const std::string& out = r.value();
    if (torvex::utf8::validate(out)) std::abort();
    if (!JsonChecker(out).check()) std::abort();
    if (indent == 0 && out.find('\n') != std::string::npos) std::abort();
    // Every line of indented output starts with a multiple of the indent.
    if (indent) {
        std::size_t pos = 0;
        while ((pos = out.find('\n', pos)) != std::string::npos) {
            std::size_t n = 0;
            while (pos + 1 + n < out.size() && out[pos + 1 + n] == ' ') ++n;
            if (n % indent) std::abort();
            ++pos;
        }
    }
    return 0;
}
