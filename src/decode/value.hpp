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
#include <variant>
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

// Members that construct the variant are defined after MapEntry, where every
// alternative is a complete type.
class Value {
public:
    enum class Kind : std::uint8_t { Null, Bool, Int, BigInt, Float, String, Sequence, Mapping, Tagged };

    Value() noexcept;  // Null
    Value(const Value& other);
    Value(Value&& other) noexcept = default;
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

    Kind kind() const noexcept { return static_cast<Kind>(data_.index()); }
    bool is_null() const noexcept { return kind() == Kind::Null; }
    bool is_collection() const noexcept { return kind() == Kind::Sequence || kind() == Kind::Mapping; }

    bool as_bool() const { return std::get<1>(data_); }
    std::int64_t as_int() const { return std::get<2>(data_); }
    const std::string& big_int_text() const { return std::get<3>(data_).text; }
    double as_float() const { return std::get<4>(data_); }
    const std::string& as_string() const { return std::get<5>(data_); }
    std::string& as_string() { return std::get<5>(data_); }
    const Sequence& as_sequence() const { return std::get<6>(data_); }
    Sequence& as_sequence() { return std::get<6>(data_); }
    const Mapping& as_mapping() const { return std::get<7>(data_); }
    Mapping& as_mapping() { return std::get<7>(data_); }
    const Tagged& as_tagged() const { return std::get<8>(data_); }
    Tagged& as_tagged() { return std::get<8>(data_); }

    // Deep structural equality: same variant and equal content (floats by ==,
    // so NaN is unequal to itself).
    friend bool operator==(const Value& a, const Value& b);

    // Number of nodes in the tree: 1 per scalar, collection and tagged wrapper.
    std::uint64_t node_count() const;

private:
    using Data = std::variant<std::monostate, bool, std::int64_t, BigInt, double, std::string, Sequence, Mapping,
                              Tagged>;
    explicit Value(Data data) noexcept;
    template <std::size_t I, class... Args>
    void reset_to(std::in_place_index_t<I>, Args&&... args) {
        if (owns_subtree()) release_subtree();
        data_.template emplace<I>(std::forward<Args>(args)...);
    }
    void release_subtree();
    bool owns_subtree() const noexcept {
        const auto k = kind();
        return k == Kind::Sequence || k == Kind::Mapping || k == Kind::Tagged;
    }

    Data data_;
};

struct MapEntry {
    Value key;
    Value value;

    MapEntry() = default;
    template <class K, class V>
    MapEntry(K&& k, V&& v) : key(std::forward<K>(k)), value(std::forward<V>(v)) {}
    friend bool operator==(const MapEntry&, const MapEntry&) = default;
};

inline Value::Value() noexcept = default;
inline Value Value::null() noexcept { return Value(); }
inline Value Value::boolean(bool b) { return Value(Data(std::in_place_index<1>, b)); }
inline Value Value::integer(std::int64_t i) { return Value(Data(std::in_place_index<2>, i)); }
inline Value Value::floating(double d) { return Value(Data(std::in_place_index<4>, d)); }
inline Value Value::big_int(std::string text) { return Value(Data(std::in_place_index<3>, BigInt{std::move(text)})); }
inline Value Value::string(std::string s) { return Value(Data(std::in_place_index<5>, std::move(s))); }
inline Value Value::string(std::string_view s) { return string(std::string(s)); }
inline Value Value::string(const char* s) { return string(std::string(s)); }
inline Value::Value(Data data) noexcept : data_(std::move(data)) {}

inline void Value::set_null() { reset_to(std::in_place_index<0>); }
inline void Value::set_bool(bool b) { reset_to(std::in_place_index<1>, b); }
inline void Value::set_int(std::int64_t i) { reset_to(std::in_place_index<2>, i); }
inline void Value::set_float(double d) { reset_to(std::in_place_index<4>, d); }
inline void Value::set_string(std::string_view s) { reset_to(std::in_place_index<5>, s); }

inline Value Value::sequence(Sequence items) { return Value(Data(std::in_place_index<6>, std::move(items))); }
inline Value Value::sequence() { return sequence(Sequence{}); }
inline Value Value::mapping(Mapping entries) { return Value(Data(std::in_place_index<7>, std::move(entries))); }
inline Value Value::mapping() { return mapping(Mapping{}); }
inline Value Value::tagged(std::string tag, Value inner) {
    return Value(Data(std::in_place_index<8>, Tagged(std::move(tag), std::move(inner))));
}

}  // namespace torvex
