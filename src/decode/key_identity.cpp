#include "decode/key_identity.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

#include "core/stack_guard.hpp"

namespace torvex {

namespace {

void append_length_prefixed(std::string& out, std::string_view text) {
    out += std::to_string(text.size());
    out += ':';
    out += text;
}

void identity_into(std::string& out, const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null: out += 'N'; return;
        case Value::Kind::Bool: out += v.as_bool() ? "T" : "F"; return;
        case Value::Kind::Int:
            out += 'I';
            out += std::to_string(v.as_int());
            out += ';';
            return;
        case Value::Kind::BigInt:
            out += 'B';
            append_length_prefixed(out, v.big_int_text());
            return;
        case Value::Kind::Float: {
            std::uint64_t bits;
            const double d = v.as_float();
            std::memcpy(&bits, &d, sizeof bits);
            out += 'D';
            out += std::to_string(bits);
            out += ';';
            return;
        }
        case Value::Kind::String:
            out += 'S';
            append_length_prefixed(out, v.as_string());
            return;
        case Value::Kind::Sequence:
            with_stack([&] {
                out += '[';
                for (const auto& item : v.as_sequence()) identity_into(out, item);
                out += ']';
            });
            return;
        case Value::Kind::Mapping:
            with_stack([&] {
                out += '{';
                for (const auto& e : v.as_mapping()) {
                    identity_into(out, e.key);
                    identity_into(out, e.value);
                }
                out += '}';
            });
            return;
        case Value::Kind::Tagged:
            out += '!';
            append_length_prefixed(out, v.as_tagged().tag);
            with_stack([&] { identity_into(out, *v.as_tagged().inner); });
            return;
    }
}

std::string float_text(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    std::string text(buf, end);
    if (text.find_first_of(".eE") == std::string::npos) text += ".0";
    return text;
}

void diagnostic_into(std::string& out, const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null: out += "Null"; return;
        case Value::Kind::Bool: out += v.as_bool() ? "Bool(true)" : "Bool(false)"; return;
        case Value::Kind::Int: out += "Int(" + std::to_string(v.as_int()) + ")"; return;
        case Value::Kind::BigInt: out += "BigInt(" + v.big_int_text() + ")"; return;
        case Value::Kind::Float: out += "Float(" + float_text(v.as_float()) + ")"; return;
        case Value::Kind::String: out += "String(\"" + v.as_string() + "\")"; return;
        case Value::Kind::Sequence:
            with_stack([&] {
                out += "Sequence([";
                bool first = true;
                for (const auto& item : v.as_sequence()) {
                    if (!first) out += ", ";
                    first = false;
                    diagnostic_into(out, item);
                }
                out += "])";
            });
            return;
        case Value::Kind::Mapping:
            with_stack([&] {
                out += "Mapping([";
                bool first = true;
                for (const auto& e : v.as_mapping()) {
                    if (!first) out += ", ";
                    first = false;
                    out += '(';
                    diagnostic_into(out, e.key);
                    out += ", ";
                    diagnostic_into(out, e.value);
                    out += ')';
                }
                out += "])";
            });
            return;
        case Value::Kind::Tagged:
            out += "Tagged(" + v.as_tagged().tag + ", ";
            with_stack([&] { diagnostic_into(out, *v.as_tagged().inner); });
            out += ")";
            return;
    }
}

}  // namespace

std::string key_identity(const Value& key) {
    std::string out;
    identity_into(out, key);
    return out;
}

std::string key_diagnostic(const Value& key) {
    if (key.kind() == Value::Kind::String) return key.as_string();
    std::string out;
    diagnostic_into(out, key);
    return out;
}

std::string duplicate_key_warning(const Value& key, std::uint32_t line, std::uint32_t column) {
    return "duplicate mapping key '" + key_diagnostic(key) + "' at line " + std::to_string(line + 1UL) + ", column " +
           std::to_string(column + 1UL) + "; keeping the last value";
}

}  // namespace torvex
