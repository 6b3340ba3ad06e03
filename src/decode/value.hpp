// Value: the plain, position-free data tree. The decoder builds it from YAML
// text, the Python converters build it from objects, the emitters write it.
// It is a value type: copying copies the whole subtree, nothing is shared.
// Copy and destruction of deep trees run under the stack guard.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>  // kept for includers that rely on it
#include <new>
#include <vector>

namespace torvex {

class Value;

struct MapEntry;
using Sequence = std::vector<Value>;
using Mapping = std::vector<MapEntry>;  // source order; equal keys may repeat

// An integer that does not fit 64 bits, as written in the source (optional
// sign; YAML 1.1 underscores may remain; converters strip them before use).
struct BigInt {
    std::string text;
    friend bool operator==(const BigInt&, const BigInt&) = default;
};

// A value carrying a tag outside the YAML core set.
struct Tagged {
    std::string tag;
    std::unique_ptr<Value> inner;  // never null

    Tagged(std::string tag, Value inner);
    Tagged(const Tagged& other);
    Tagged(Tagged&&) noexcept = default;
    Tagged& operator=(const Tagged& other);
    Tagged& operator=(Tagged&&) noexcept = default;
    ~Tagged();
};

// Members that construct or release the contents are defined after MapEntry, where every
// alternative is a complete type.
class Value {
public:
    enum class Kind : std::uint8_t { Null, Bool, Int, BigInt, Float, String, Sequence, Mapping, Tagged };

    Value() noexcept;  // Null
    Value(const Value& other);
    Value(Value&& other) noexcept;
    Value& operator=(const Value& other);
    Value& operator=(Value&& other) noexcept;
    ~Value();

    static Value null() noexcept;
    static Value boolean(bool b);
    static Value integer(std::int64_t i);
    static Value big_int(std::string text);
    static Value floating(double d);
    static Value string(std::string s);
    static Value string(std::string_view s);
    static Value string(const char* s);
    static Value sequence(Sequence items);
    static Value sequence();
    static Value mapping(Mapping entries);
    static Value mapping();
    static Value tagged(std::string tag, Value inner);

    // In-place setters for scalars: no temporary Value, no move.
    void set_null();
    void set_bool(bool b);
    void set_int(std::int64_t i);
    void set_float(double d);
    void set_string(std::string_view s);

    Kind kind() const noexcept { return kind_; }
    bool is_null() const noexcept { return kind() == Kind::Null; }
    bool is_collection() const noexcept { return kind() == Kind::Sequence || kind() == Kind::Mapping; }

    // Accessors of the current kind only.
    bool as_bool() const { return b_; }
    std::int64_t as_int() const { return i_; }
    const std::string& big_int_text() const { return big_.text; }
    double as_float() const { return f_; }
    const std::string& as_string() const { return str_; }
    std::string& as_string() { return str_; }
    const Sequence& as_sequence() const { return seq_; }
    Sequence& as_sequence() { return seq_; }
    const Mapping& as_mapping() const { return map_; }
    Mapping& as_mapping() { return map_; }
    const Tagged& as_tagged() const { return tag_; }
    Tagged& as_tagged() { return tag_; }

    // Deep structural equality: same variant and equal content (floats by ==,
    // so NaN is unequal to itself).
    friend bool operator==(const Value& a, const Value& b);

    // Number of nodes in the tree: 1 per scalar, collection and tagged wrapper.
    std::uint64_t node_count() const;

private:
    // A tagged union rather than std::variant: building and releasing large
    // trees is dominated by per-node kind dispatch, and a plain switch keeps
    // it inline.
    void copy_from(const Value& other);  // *this holds nothing
    void move_from(Value&& other) noexcept;  // *this holds nothing
    // Out of line: inlined, GCC cannot follow kind_ and warns of vector
    // fields read uninitialised.
    void move_subtree_from(Value&& other) noexcept;
    // Ends the current member's lifetime; the kind is left for the caller to set.
    void destroy() noexcept {
        if (kind_ == Kind::String) {
            str_.~basic_string();
        } else if (kind_ == Kind::BigInt) {
            big_.~BigInt();
        } else if (owns_subtree()) {
            release_subtree();
        }
    }
    void release_subtree() noexcept;  // out of line, under the stack guard
    bool owns_subtree() const noexcept {
        return kind_ == Kind::Sequence || kind_ == Kind::Mapping || kind_ == Kind::Tagged;
    }

    union {
        bool b_;
        std::int64_t i_;
        double f_;
        BigInt big_;
        std::string str_;
        Sequence seq_;
        Mapping map_;
        Tagged tag_;
    };
    Kind kind_ = Kind::Null;
};

struct MapEntry {
    Value key;
    Value value;

    // User-provided, so that emplace_back() does not zero both values first.
    MapEntry() noexcept {}
    template <class K, class V>
    MapEntry(K&& k, V&& v) : key(std::forward<K>(k)), value(std::forward<V>(v)) {}
    friend bool operator==(const MapEntry&, const MapEntry&) = default;
};

inline Value::Value() noexcept {}
// Inline so that releasing a collection's scalar items needs no call;
// subtrees are released out of line, under the stack guard.
inline Value::~Value() { destroy(); }

inline void Value::move_from(Value&& other) noexcept {
    switch (other.kind_) {
        case Kind::Null: break;
        case Kind::Bool: b_ = other.b_; break;
        case Kind::Int: i_ = other.i_; break;
        case Kind::BigInt: new (&big_) BigInt(std::move(other.big_)); break;
        case Kind::Float: f_ = other.f_; break;
        case Kind::String: new (&str_) std::string(std::move(other.str_)); break;
        case Kind::Sequence:
        case Kind::Mapping:
        case Kind::Tagged: move_subtree_from(std::move(other)); break;
    }
    kind_ = other.kind_;
}
// Like std::variant, a moved-from value keeps its kind with emptied contents.
inline Value::Value(Value&& other) noexcept { move_from(std::move(other)); }

inline Value Value::null() noexcept { return Value(); }
inline Value Value::boolean(bool b) {
    Value v;
    v.set_bool(b);
    return v;
}
inline Value Value::integer(std::int64_t i) {
    Value v;
    v.set_int(i);
    return v;
}
inline Value Value::floating(double d) {
    Value v;
    v.set_float(d);
    return v;
}
inline Value Value::big_int(std::string text) {
    Value v;
    new (&v.big_) BigInt{std::move(text)};
    v.kind_ = Kind::BigInt;
    return v;
}
inline Value Value::string(std::string s) {
    Value v;
    new (&v.str_) std::string(std::move(s));
    v.kind_ = Kind::String;
    return v;
}
inline Value Value::string(std::string_view s) { return string(std::string(s)); }
inline Value Value::string(const char* s) { return string(std::string(s)); }

inline void Value::set_null() {
    destroy();
    kind_ = Kind::Null;
}
inline void Value::set_bool(bool b) {
    destroy();
    b_ = b;
    kind_ = Kind::Bool;
}
inline void Value::set_int(std::int64_t i) {
    destroy();
    i_ = i;
    kind_ = Kind::Int;
}
inline void Value::set_float(double d) {
    destroy();
    f_ = d;
    kind_ = Kind::Float;
}
inline void Value::set_string(std::string_view s) {
    if (kind_ == Kind::String) {
        str_.assign(s);
        return;
    }
    destroy();
    kind_ = Kind::Null;  // until the string exists
    new (&str_) std::string(s);
    kind_ = Kind::String;
}
inline Value Value::sequence(Sequence items) {
    Value v;
    new (&v.seq_) Sequence(std::move(items));
    v.kind_ = Kind::Sequence;
    return v;
}
inline Value Value::sequence() { return sequence(Sequence{}); }
inline Value Value::mapping(Mapping entries) {
    Value v;
    new (&v.map_) Mapping(std::move(entries));
    v.kind_ = Kind::Mapping;
    return v;
}
inline Value Value::mapping() { return mapping(Mapping{}); }
inline Value Value::tagged(std::string tag, Value inner) {
    Value v;
    new (&v.tag_) Tagged(std::move(tag), std::move(inner));
    v.kind_ = Kind::Tagged;
    return v;
}

}  // namespace torvex
