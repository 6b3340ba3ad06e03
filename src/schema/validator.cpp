#include "schema/validator.hpp"

#include <string>
#include <string_view>
#include <unordered_set>

#include "core/stack_guard.hpp"
#include "schema/numbers.hpp"

namespace torvex::schema {

namespace {

std::size_t code_points(std::string_view text) noexcept {
    std::size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

// An integer instance as canonical digits (for comparing with big integers).
std::optional<std::string> integer_digits(const Instance& inst) {
    if (inst.big) return canonical_integer(inst.text);
    return std::to_string(inst.integer);
}

std::optional<std::string> value_integer_digits(const Value& v) {
    if (v.kind() == Value::Kind::Int) return std::to_string(v.as_int());
    if (v.kind() == Value::Kind::BigInt) return canonical_integer(v.big_int_text());
    return std::nullopt;
}

// The instance's number for numeric limits; nothing for a big integer that
// does not convert.
std::optional<double> numeric(const Instance& inst) {
    if (inst.type == InstanceType::Number) return inst.number;
    if (inst.big) return big_int_to_double(inst.text);
    return static_cast<double>(inst.integer);
}

// Equality for enum and const, as JSON Schema compares: numbers by value
// (1 equals 1.0), arrays item by item, objects as sets of members with equal
// values, everything else by kind and value (a boolean never equals a number).
bool equals(const InstanceTree& tree, const Instance& inst, const Value& v, std::size_t level);

bool number_equals(const Instance& inst, const Value& v) {
    const Value::Kind k = v.kind();
    if (k != Value::Kind::Int && k != Value::Kind::BigInt && k != Value::Kind::Float) return false;
    if (inst.type == InstanceType::Number) {
        if (k == Value::Kind::Float) return inst.number == v.as_float();
        if (k == Value::Kind::Int) return int_equals_double(v.as_int(), inst.number);
        const auto a = integral_double_digits(inst.number);
        return a && a == value_integer_digits(v);
    }
    if (!inst.big) {
        if (k == Value::Kind::Int) return inst.integer == v.as_int();
        if (k == Value::Kind::Float) return int_equals_double(inst.integer, v.as_float());
    }
    const auto digits = integer_digits(inst);
    if (!digits) return false;
    if (k == Value::Kind::Float) return integral_double_digits(v.as_float()) == digits;
    return value_integer_digits(v) == digits;
}

bool object_equals(const InstanceTree& tree, const Instance& inst, const Value& v, std::size_t level) {
    const Mapping& entries = v.as_mapping();
    const std::uint32_t n = inst.count;
    // Every instance key is one of the schema's keys ...
    for (std::uint32_t i = 0; i < n; ++i) {
        const Instance& key = tree.nodes[inst.first + 2 * i];
        bool found = false;
        for (const MapEntry& e : entries) {
            if (equals(tree, key, e.key, level + 1)) {
                found = true;
                break;
            }
        }
        if (!found) return false;
    }
    // ... and every schema member is in the instance, its last occurrence
    // (the one a loaded dict keeps) holding an equal value.
    for (const MapEntry& e : entries) {
        bool matched = false;
        for (std::uint32_t i = n; i-- > 0;) {
            if (equals(tree, tree.nodes[inst.first + 2 * i], e.key, level + 1)) {
                matched = equals(tree, tree.nodes[inst.first + 2 * i + 1], e.value, level + 1);
                break;
            }
        }
        if (!matched) return false;
    }
    return true;
}

bool equals(const InstanceTree& tree, const Instance& inst, const Value& v, std::size_t level) {
    switch (inst.type) {
        case InstanceType::Null: return v.kind() == Value::Kind::Null;
        case InstanceType::Boolean: return v.kind() == Value::Kind::Bool && v.as_bool() == inst.boolean;
        case InstanceType::Integer:
        case InstanceType::Number: return number_equals(inst, v);
        case InstanceType::String: return v.kind() == Value::Kind::String && v.as_string() == inst.text;
        case InstanceType::Array: {
            if (v.kind() != Value::Kind::Sequence || v.as_sequence().size() != inst.count) return false;
            return with_stack_at(level, [&] {
                for (std::uint32_t i = 0; i < inst.count; ++i) {
                    if (!equals(tree, tree.nodes[inst.first + i], v.as_sequence()[i], level + 1)) return false;
                }
                return true;
            });
        }
        case InstanceType::Object:
            if (v.kind() != Value::Kind::Mapping) return false;
            return with_stack_at(level, [&] { return object_equals(tree, inst, v, level); });
    }
    return false;
}

class Checker {
public:
    Checker(const CompiledSchema& schema, const InstanceTree& tree, std::vector<Violation>* out)
        : schema_(schema), tree_(tree), out_(out) {}

    // Checks instance `ii` against schema `si`. Returns true when checking
    // should stop: only in probe mode (no output list), at the first violation.
    bool check(SchemaIndex si, std::uint32_t ii, std::size_t level) {
        const SchemaNode& s = schema_.nodes[si];
        if (s.form == SchemaNode::Form::AcceptAll) return false;
        if (s.form == SchemaNode::Form::RejectAll) {
            return report(ii, [] { return std::string("value is not allowed (schema is false)"); });
        }
        return with_stack_at(level, [&] { return check_keywords(s, ii, level); });
    }

private:
    struct Segment {
        std::string_view key;
        std::uint32_t index;
        bool is_index;
    };

    template <class Message>
    bool report(std::uint32_t ii, Message message) {
        if (out_ == nullptr) return true;
        out_->push_back(Violation{message(), path_text(), *tree_.nodes[ii].span});
        return false;
    }

    std::string path_text() const {
        std::string path = "$";
        for (const Segment& s : path_) {
            if (s.is_index) {
                path += '[';
                path += std::to_string(s.index);
                path += ']';
            } else {
                path += '.';
                path += s.key;
            }
        }
        return path;
    }

    // Whether the instance violates the schema; what it finds is discarded.
    bool violates(SchemaIndex si, std::uint32_t ii, std::size_t level) {
        std::vector<Violation>* saved = out_;
        out_ = nullptr;
        const bool failed = check(si, ii, level + 1);
        out_ = saved;
        return failed;
    }

    bool check_keywords(const SchemaNode& s, std::uint32_t ii, std::size_t level) {
        const Instance& inst = tree_.nodes[ii];
        if (s.has_type && (s.type_mask & type_bit(inst.type)) == 0) {
            if (report(ii, [&] {
                    return "expected type " + s.type_names + ", found " + type_name(inst.type);
                }))
                return true;
        }
        if (s.enum_values != UINT32_MAX) {
            bool found = false;
            for (const Value& allowed : schema_.values[s.enum_values].as_sequence()) {
                if (equals(tree_, inst, allowed, level)) {
                    found = true;
                    break;
                }
            }
            if (!found && report(ii, [] { return std::string("value is not one of the allowed enum values"); }))
                return true;
        }
        if (s.const_value != UINT32_MAX && !equals(tree_, inst, schema_.values[s.const_value], level)) {
            if (report(ii, [] { return std::string("value does not equal the required const"); })) return true;
        }
        if (inst.type == InstanceType::Integer || inst.type == InstanceType::Number) {
            if (check_numbers(s, ii)) return true;
        } else if (inst.type == InstanceType::String) {
            if (s.min_length || s.max_length) {
                const auto length = static_cast<std::int64_t>(code_points(inst.text));
                if (s.min_length && length < *s.min_length &&
                    report(ii, [&] { return "string is shorter than minLength " + std::to_string(*s.min_length); }))
                    return true;
                if (s.max_length && length > *s.max_length &&
                    report(ii, [&] { return "string is longer than maxLength " + std::to_string(*s.max_length); }))
                    return true;
            }
        } else if (inst.type == InstanceType::Object) {
            if (check_object(s, ii, level)) return true;
        } else if (inst.type == InstanceType::Array) {
            if (check_array(s, ii, level)) return true;
        }
        return check_combinators(s, ii, level);
    }

    bool check_numbers(const SchemaNode& s, std::uint32_t ii) {
        if (!s.minimum && !s.maximum && !s.exclusive_minimum && !s.exclusive_maximum) return false;
        const auto value = numeric(tree_.nodes[ii]);
        if (!value) return false;
        const double x = *value;
        auto limit = [&](const std::optional<NumberLimit>& l, bool ok, const char* words) {
            if (!l || ok) return false;
            return report(ii, [&] { return "value " + number_text(x) + words + number_text(l->value); });
        };
        return limit(s.minimum, s.minimum && x >= s.minimum->value, " is less than minimum ") ||
               limit(s.maximum, s.maximum && x <= s.maximum->value, " is greater than maximum ") ||
               limit(s.exclusive_minimum, s.exclusive_minimum && x > s.exclusive_minimum->value,
                     " is not greater than ") ||
               limit(s.exclusive_maximum, s.exclusive_maximum && x < s.exclusive_maximum->value,
                     " is not less than ");
    }

    bool check_object(const SchemaNode& s, std::uint32_t ii, std::size_t level) {
        const Instance inst = tree_.nodes[ii];
        if (!s.required.empty()) {
            auto has_key = [&](std::string_view name) {
                for (std::uint32_t i = 0; i < inst.count; ++i) {
                    const Instance& key = tree_.nodes[inst.first + 2 * i];
                    if (key.scalar && key.text == name) return true;
                }
                return false;
            };
            std::unordered_set<std::string_view> keys;
            const bool use_set = s.required.size() > 8 && inst.count > 8;
            if (use_set) {
                for (std::uint32_t i = 0; i < inst.count; ++i) {
                    const Instance& key = tree_.nodes[inst.first + 2 * i];
                    if (key.scalar) keys.insert(key.text);
                }
            }
            for (std::string_view name : s.required) {
                const bool present = use_set ? keys.contains(name) : has_key(name);
                if (!present && report(ii, [&] { return "missing required property '" + std::string(name) + "'"; }))
                    return true;
            }
        }
        if (s.properties.empty() && s.additional == SchemaNode::Additional::Allow) return false;
        for (std::uint32_t i = 0; i < inst.count; ++i) {
            const Instance& key = tree_.nodes[inst.first + 2 * i];
            if (!key.scalar) continue;
            const std::uint32_t value = inst.first + 2 * i + 1;
            SchemaIndex sub = kNoSchema;
            if (!s.properties.empty()) sub = s.property(key.text);
            if (sub == kNoSchema && s.additional == SchemaNode::Additional::Allow) continue;
            path_.push_back(Segment{key.text, 0, false});
            bool stop = false;
            if (sub != kNoSchema) {
                stop = check(sub, value, level + 1);
            } else if (s.additional == SchemaNode::Additional::Schema) {
                stop = check(s.additional_schema, value, level + 1);
            } else {
                stop = report(value, [&] {
                    return "additional property '" + std::string(key.text) + "' is not allowed";
                });
            }
            path_.pop_back();
            if (stop) return true;
        }
        return false;
    }

    bool check_array(const SchemaNode& s, std::uint32_t ii, std::size_t level) {
        const Instance inst = tree_.nodes[ii];
        const auto count = static_cast<std::int64_t>(inst.count);
        if (s.min_items && count < *s.min_items &&
            report(ii, [&] { return "array has fewer than minItems " + std::to_string(*s.min_items); }))
            return true;
        if (s.max_items && count > *s.max_items &&
            report(ii, [&] { return "array has more than maxItems " + std::to_string(*s.max_items); }))
            return true;
        if (s.items == kNoSchema || schema_.nodes[s.items].form == SchemaNode::Form::AcceptAll) return false;
        for (std::uint32_t i = 0; i < inst.count; ++i) {
            path_.push_back(Segment{{}, i, true});
            const bool stop = check(s.items, inst.first + i, level + 1);
            path_.pop_back();
            if (stop) return true;
        }
        return false;
    }

    bool check_combinators(const SchemaNode& s, std::uint32_t ii, std::size_t level) {
        for (SchemaIndex sub : s.all_of) {
            if (check(sub, ii, level + 1)) return true;
        }
        if (s.has_any_of) {
            bool any = false;
            for (SchemaIndex sub : s.any_of) {
                if (!violates(sub, ii, level)) {
                    any = true;
                    break;
                }
            }
            if (!any && report(ii, [] { return std::string("value does not match any of the anyOf schemas"); }))
                return true;
        }
        if (s.has_one_of) {
            std::size_t matches = 0;
            for (SchemaIndex sub : s.one_of) matches += !violates(sub, ii, level);
            if (matches != 1 && report(ii, [&] {
                    return "value matches " + std::to_string(matches) + " of the oneOf schemas (exactly one required)";
                }))
                return true;
        }
        if (s.not_schema != kNoSchema && !violates(s.not_schema, ii, level)) {
            if (report(ii, [] { return std::string("value must not match the 'not' schema"); })) return true;
        }
        return false;
    }

    const CompiledSchema& schema_;
    const InstanceTree& tree_;
    std::vector<Violation>* out_;
    std::vector<Segment> path_;
};

}  // namespace

std::vector<Violation> validate(const CompiledSchema& schema, const InstanceTree& tree) {
    std::vector<Violation> out;
    if (schema.nodes.empty() || tree.nodes.empty()) return out;
    Checker checker(schema, tree, &out);
    (void)checker.check(0, 0, 0);
    return out;
}

bool conforms(const CompiledSchema& schema, const InstanceTree& tree) {
    if (schema.nodes.empty() || tree.nodes.empty()) return true;
    Checker checker(schema, tree, nullptr);
    return !checker.check(0, 0, 0);
}

std::vector<Violation> validate_document(const CompiledSchema& schema, const rt::YamlNode& root, ResolveMode mode) {
    if (!schema.nodes.empty() && schema.nodes[0].form == SchemaNode::Form::AcceptAll) return {};
    const InstanceTree tree = build_instance_tree(root, mode);
    return validate(schema, tree);
}

Error violation_error(const Violation& violation) {
    Error e = Error::at(ErrorKind::Schema, violation.message, violation.span);
    e.schema_path = violation.path;
    return e;
}

}  // namespace torvex::schema
