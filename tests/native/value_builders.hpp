// Short builders of Value trees for table-driven tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "decode/value.hpp"

namespace torvex {
namespace {

Value S(std::string_view s) { return Value::string(std::string(s)); }
Value I(std::int64_t i) { return Value::integer(i); }
Value N() { return Value::null(); }
Value B(bool b) { return Value::boolean(b); }
Value F(double d) { return Value::floating(d); }
Value L(std::initializer_list<Value> items) { return Value::sequence(Sequence(items)); }
Value M(std::initializer_list<std::pair<Value, Value>> entries) {
    Mapping m;
    for (const auto& [k, v] : entries) m.push_back({k, v});
    return Value::mapping(std::move(m));
}
Value T(const char* tag, Value inner) { return Value::tagged(tag, std::move(inner)); }

}  // namespace
}  // namespace torvex
