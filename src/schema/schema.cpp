#include "schema/schema.hpp"

#include <cmath>
#include <cstdlib>
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

std::optional<NumberLimit> number_limit(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Int: return NumberLimit{static_cast<double>(v.as_int())};
        case Value::Kind::Float: return NumberLimit{v.as_float()};
        case Value::Kind::BigInt: {
            if (auto d = big_int_to_double(v.big_int_text())) return NumberLimit{*d};
            return std::nullopt;
        }
        default: return std::nullopt;
    }
}

// A length or count limit: an integer, or a float without fraction; floats
// beyond the signed 64-bit range count as its ends.
std::optional<std::int64_t> count_limit(const Value& v) {
    constexpr double kTop = 9223372036854775808.0;  // 2^63
    switch (v.kind()) {
        case Value::Kind::Int: return v.as_int();
        case Value::Kind::BigInt: {
            const std::string& t = v.big_int_text();
            const bool negative = !t.empty() && t[0] == '-';
            return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
        }
        case Value::Kind::Float: {
            const double d = v.as_float();
            if (!std::isfinite(d) || d != std::floor(d)) return std::nullopt;
            if (d >= kTop) return std::numeric_limits<std::int64_t>::max();
            if (d < -kTop) return std::numeric_limits<std::int64_t>::min();
            return static_cast<std::int64_t>(d);
        }
        default: return std::nullopt;
    }
}

class Compiler {
public:
    explicit Compiler(CompiledSchema& out) : out_(out) {}

    SchemaIndex compile(const Value& v, std::size_t depth) {
        const auto index = static_cast<SchemaIndex>(out_.nodes.size());
        out_.nodes.emplace_back();
        if (v.kind() == Value::Kind::Bool) {
            out_.nodes[index].form = v.as_bool() ? SchemaNode::Form::AcceptAll : SchemaNode::Form::RejectAll;
            return index;
        }
        if (v.kind() != Value::Kind::Mapping) return index;
        // Subschemas are compiled into `node` first and stored afterwards:
        // compiling them grows the table, which moves its records.
        SchemaNode node;
        node.form = SchemaNode::Form::Keywords;
        with_stack_at(depth, [&] { fill(node, v.as_mapping(), depth); });
        out_.nodes[index] = std::move(node);
        return index;
    }

private:
    // The first entry with this string key, or null.
    static const Value* keyword(const Mapping& m, std::string_view name) {
        for (const MapEntry& e : m) {
            if (e.key.kind() == Value::Kind::String && e.key.as_string() == name) return &e.value;
        }
        return nullptr;
    }

    void schema_list(const Value* v, bool& has, std::vector<SchemaIndex>& out, std::size_t depth) {
        if (v == nullptr || v->kind() != Value::Kind::Sequence) return;
        has = true;
        for (const Value& item : v->as_sequence()) out.push_back(compile(item, depth + 1));
    }

    void fill(SchemaNode& node, const Mapping& m, std::size_t depth) {
        if (const Value* type = keyword(m, "type")) {
            if (type->kind() == Value::Kind::String) {
                node.has_type = true;
                node.type_names = type->as_string();
                node.type_mask = mask_of(type->as_string());
            } else if (type->kind() == Value::Kind::Sequence) {
                node.has_type = true;  // an array without any string matches nothing
                bool first = true;
                for (const Value& name : type->as_sequence()) {
                    if (name.kind() != Value::Kind::String) continue;
                    if (!first) node.type_names += " | ";
                    first = false;
                    node.type_names += name.as_string();
                    node.type_mask |= mask_of(name.as_string());
                }
            }
        }
        if (const Value* e = keyword(m, "enum"); e && e->kind() == Value::Kind::Sequence) node.enum_values = e;
        node.const_value = keyword(m, "const");
        if (const Value* v = keyword(m, "minimum")) node.minimum = number_limit(*v);
        if (const Value* v = keyword(m, "maximum")) node.maximum = number_limit(*v);
        if (const Value* v = keyword(m, "exclusiveMinimum")) node.exclusive_minimum = number_limit(*v);
        if (const Value* v = keyword(m, "exclusiveMaximum")) node.exclusive_maximum = number_limit(*v);
        if (const Value* v = keyword(m, "minLength")) node.min_length = count_limit(*v);
        if (const Value* v = keyword(m, "maxLength")) node.max_length = count_limit(*v);
        if (const Value* v = keyword(m, "minItems")) node.min_items = count_limit(*v);
        if (const Value* v = keyword(m, "maxItems")) node.max_items = count_limit(*v);
        if (const Value* r = keyword(m, "required"); r && r->kind() == Value::Kind::Sequence) {
            for (const Value& name : r->as_sequence()) {
                if (name.kind() == Value::Kind::String) node.required.emplace_back(name.as_string());
            }
        }
        if (const Value* p = keyword(m, "properties"); p && p->kind() == Value::Kind::Mapping) {
            for (const MapEntry& e : p->as_mapping()) {
                if (e.key.kind() != Value::Kind::String || node.properties.contains(e.key.as_string())) continue;
                const SchemaIndex sub = compile(e.value, depth + 1);
                node.properties.emplace(e.key.as_string(), sub);
            }
        }
        if (const Value* a = keyword(m, "additionalProperties")) {
            if (a->kind() == Value::Kind::Mapping) {
                node.additional = SchemaNode::Additional::Schema;
                node.additional_schema = compile(*a, depth + 1);
            } else if (a->kind() == Value::Kind::Bool && !a->as_bool()) {
                node.additional = SchemaNode::Additional::Reject;
            }
        }
        if (const Value* i = keyword(m, "items")) node.items = compile(*i, depth + 1);
        schema_list(keyword(m, "allOf"), node.has_all_of, node.all_of, depth);
        schema_list(keyword(m, "anyOf"), node.has_any_of, node.any_of, depth);
        schema_list(keyword(m, "oneOf"), node.has_one_of, node.one_of, depth);
        if (const Value* n = keyword(m, "not")) node.not_schema = compile(*n, depth + 1);
    }

    CompiledSchema& out_;
};

}  // namespace

CompiledSchema compile_schema(Value source) {
    CompiledSchema out;
    out.source = std::move(source);
    Compiler compiler(out);
    (void)compiler.compile(out.source, 0);
    return out;
}

}  // namespace torvex::schema
