#include "schema/schema.hpp"

#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <limits>

#include "core/stack_guard.hpp"
#include "schema/numbers.hpp"

namespace torvex::schema {

const char* type_name(InstanceType t) noexcept {
    switch (t) {
        case InstanceType::Null: return "null";
        case InstanceType::Boolean: return "boolean";
        case InstanceType::Integer: return "integer";
        case InstanceType::Number: return "number";
        case InstanceType::String: return "string";
        case InstanceType::Array: return "array";
        case InstanceType::Object: return "object";
    }
    return "string";
}

namespace {

// The mask a type name in a schema matches; an unknown name matches everything.
std::uint8_t mask_of(std::string_view name) noexcept {
    if (name == "null") return type_bit(InstanceType::Null);
    if (name == "boolean") return type_bit(InstanceType::Boolean);
    if (name == "integer") return type_bit(InstanceType::Integer);
    if (name == "number") return type_bit(InstanceType::Integer) | type_bit(InstanceType::Number);
    if (name == "string") return type_bit(InstanceType::String);
    if (name == "array") return type_bit(InstanceType::Array);
    if (name == "object") return type_bit(InstanceType::Object);
    return kAllTypes;
}

using Kind = TapeNode::Kind;

std::optional<NumberLimit> number_limit(const TapeNode& v) {
    switch (v.kind()) {
        case Kind::Int: return NumberLimit{static_cast<double>(v.integer)};
        case Kind::Float: return NumberLimit{v.floating};
        case Kind::BigInt: {
            if (auto d = big_int_to_double(v.text_view())) return NumberLimit{*d};
            return std::nullopt;
        }
        default: return std::nullopt;
    }
}

// A length or count limit: an integer, or a float without fraction; floats
// beyond the signed 64-bit range count as its ends.
std::optional<std::int64_t> count_limit(const TapeNode& v) {
    constexpr double kTop = 9223372036854775808.0;  // 2^63
    switch (v.kind()) {
        case Kind::Int: return v.integer;
        case Kind::BigInt: {
            const std::string_view t = v.text_view();
            const bool negative = !t.empty() && t[0] == '-';
            return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
        }
        case Kind::Float: {
            const double d = v.floating;
            if (!std::isfinite(d) || d != std::floor(d)) return std::nullopt;
            if (d >= kTop) return std::numeric_limits<std::int64_t>::max();
            if (d < -kTop) return std::numeric_limits<std::int64_t>::min();
            return static_cast<std::int64_t>(d);
        }
        default: return std::nullopt;
    }
}

enum Keyword : std::uint8_t {
    kType, kEnum, kConst, kMinimum, kMaximum, kExclusiveMinimum, kExclusiveMaximum, kMinLength, kMaxLength,
    kRequired, kProperties, kAdditionalProperties, kMinItems, kMaxItems, kItems, kAllOf, kAnyOf, kOneOf, kNot,
    kKeywordCount, kUnknown = kKeywordCount
};

Keyword keyword_of(std::string_view k) noexcept {
    static constexpr std::string_view kNames[kKeywordCount] = {
        "type", "enum", "const", "minimum", "maximum", "exclusiveMinimum", "exclusiveMaximum", "minLength",
        "maxLength", "required", "properties", "additionalProperties", "minItems", "maxItems", "items", "allOf",
        "anyOf", "oneOf", "not"};
    for (std::uint8_t i = 0; i < kKeywordCount; ++i) {
        if (kNames[i] == k) return static_cast<Keyword>(i);
    }
    return kUnknown;
}

constexpr std::size_t kAbsent = SIZE_MAX;

class Compiler {
public:
    Compiler(const Tape& tape, CompiledSchema& out) : tape_(tape), out_(out) {}

    SchemaIndex compile(std::size_t at, std::size_t depth) {
        const auto index = static_cast<SchemaIndex>(out_.nodes.size());
        out_.nodes.emplace_back();
        const TapeNode& v = tape_.nodes[at];
        if (v.kind() == Kind::Bool) {
            out_.nodes[index].form = v.integer != 0 ? SchemaNode::Form::AcceptAll : SchemaNode::Form::RejectAll;
            return index;
        }
        if (v.kind() != Kind::Mapping) return index;
        // Subschemas are compiled into `node` first and stored afterwards:
        // compiling them grows the table, which moves its records.
        SchemaNode node;
        node.form = SchemaNode::Form::Keywords;
        with_stack_at(depth, [&] { fill(node, at, depth); });
        out_.nodes[index] = std::move(node);
        return index;
    }

private:
    const TapeNode& at(std::size_t i) const { return tape_.nodes[i]; }

    // Calls f(index) for each item of the sequence at `seq`.
    template <class F>
    void each_item(std::size_t seq, F f) const {
        std::size_t i = seq + 1;
        for (std::uint64_t n = 0; n < at(seq).size(); ++n, i = tape_.end_of(i)) f(i);
    }

    std::uint32_t keep_value(std::size_t i) {
        out_.values.push_back(tape_value(tape_, i));
        return static_cast<std::uint32_t>(out_.values.size() - 1);
    }

    void schema_list(std::size_t v, bool& has, std::vector<SchemaIndex>& out, std::size_t depth) {
        if (v == kAbsent || at(v).kind() != Kind::Sequence) return;
        has = true;
        out.reserve(at(v).size());
        each_item(v, [&](std::size_t i) { out.push_back(compile(i, depth + 1)); });
    }

    void fill(SchemaNode& node, std::size_t map, std::size_t depth) {
        // The first entry of each keyword counts.
        std::size_t found[kKeywordCount];
        std::fill(std::begin(found), std::end(found), kAbsent);
        std::size_t i = map + 1;
        for (std::uint64_t n = 0; n < at(map).size(); ++n) {
            const std::size_t value = tape_.end_of(i);
            if (at(i).kind() == Kind::String) {
                const Keyword k = keyword_of(at(i).text_view());
                if (k != kUnknown && found[k] == kAbsent) found[k] = value;
            }
            i = tape_.end_of(value);
        }
        if (const std::size_t t = found[kType]; t != kAbsent) {
            if (at(t).kind() == Kind::String) {
                node.has_type = true;
                node.type_names = at(t).text_view();
                node.type_mask = mask_of(at(t).text_view());
            } else if (at(t).kind() == Kind::Sequence) {
                node.has_type = true;  // an array without any string matches nothing
                bool first = true;
                each_item(t, [&](std::size_t name) {
                    if (at(name).kind() != Kind::String) return;
                    if (!first) node.type_names += " | ";
                    first = false;
                    node.type_names += at(name).text_view();
                    node.type_mask |= mask_of(at(name).text_view());
                });
            }
        }
        if (found[kEnum] != kAbsent && at(found[kEnum]).kind() == Kind::Sequence) {
            node.enum_values = keep_value(found[kEnum]);
        }
        if (found[kConst] != kAbsent) node.const_value = keep_value(found[kConst]);
        auto number = [&](Keyword k, std::optional<NumberLimit>& out) {
            if (found[k] != kAbsent) out = number_limit(at(found[k]));
        };
        number(kMinimum, node.minimum);
        number(kMaximum, node.maximum);
        number(kExclusiveMinimum, node.exclusive_minimum);
        number(kExclusiveMaximum, node.exclusive_maximum);
        auto count = [&](Keyword k, std::optional<std::int64_t>& out) {
            if (found[k] != kAbsent) out = count_limit(at(found[k]));
        };
        count(kMinLength, node.min_length);
        count(kMaxLength, node.max_length);
        count(kMinItems, node.min_items);
        count(kMaxItems, node.max_items);
        if (const std::size_t r = found[kRequired]; r != kAbsent && at(r).kind() == Kind::Sequence) {
            each_item(r, [&](std::size_t name) {
                if (at(name).kind() == Kind::String) node.required.push_back(at(name).text_view());
            });
        }
        if (const std::size_t p = found[kProperties]; p != kAbsent && at(p).kind() == Kind::Mapping) {
            node.properties.reserve(at(p).size());
            std::size_t k = p + 1;
            for (std::uint64_t n = 0; n < at(p).size(); ++n) {
                const std::size_t value = tape_.end_of(k);
                if (at(k).kind() == Kind::String) node.properties.emplace_back(at(k).text_view(), compile(value, depth + 1));
                k = tape_.end_of(value);
            }
            // Sorted for lookup; among equal names the first entry stays first and counts.
            std::stable_sort(node.properties.begin(), node.properties.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        }
        if (const std::size_t a = found[kAdditionalProperties]; a != kAbsent) {
            if (at(a).kind() == Kind::Mapping) {
                node.additional = SchemaNode::Additional::Schema;
                node.additional_schema = compile(a, depth + 1);
            } else if (at(a).kind() == Kind::Bool && at(a).integer == 0) {
                node.additional = SchemaNode::Additional::Reject;
            }
        }
        if (found[kItems] != kAbsent) node.items = compile(found[kItems], depth + 1);
        schema_list(found[kAllOf], node.has_all_of, node.all_of, depth);
        schema_list(found[kAnyOf], node.has_any_of, node.any_of, depth);
        schema_list(found[kOneOf], node.has_one_of, node.one_of, depth);
        if (found[kNot] != kAbsent) node.not_schema = compile(found[kNot], depth + 1);
    }

    const Tape& tape_;
    CompiledSchema& out_;
};

}  // namespace

SchemaIndex SchemaNode::property(std::string_view name) const noexcept {
    auto it = std::lower_bound(properties.begin(), properties.end(), name,
                               [](const auto& entry, std::string_view n) { return entry.first < n; });
    return it != properties.end() && it->first == name ? it->second : kNoSchema;
}

CompiledSchema compile_schema(const Tape& tape, std::size_t root) {
    CompiledSchema out;
    out.nodes.reserve(tape.nodes.size() / 4 + 1);
    Compiler compiler(tape, out);
    (void)compiler.compile(root, 0);
    return out;
}

CompiledSchema compile_schema(Value source) {
    CompiledSchema out;
    out.source = std::move(source);
    // The tape's texts point into the strings inside `source`'s collections,
    // which stay in place when the schema moves (a scalar root needs no text).
    append_value(out.source_tape, out.source);
    CompiledSchema compiled = compile_schema(out.source_tape, 0);
    out.nodes = std::move(compiled.nodes);
    out.values = std::move(compiled.values);
    return out;
}

}  // namespace torvex::schema
