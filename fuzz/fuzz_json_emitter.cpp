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
#include "value_source.hpp"

using torvex_fuzz::ValueSource;

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
