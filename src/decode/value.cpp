#include "decode/value.hpp"

#include "core/stack_guard.hpp"

namespace torvex {

Tagged::Tagged(std::string t, Value v) : tag(std::move(t)), inner(std::make_unique<Value>(std::move(v))) {}
Tagged::Tagged(const Tagged& other) : tag(other.tag), inner(std::make_unique<Value>(*other.inner)) {}
Tagged& Tagged::operator=(const Tagged& other) {
    if (this != &other) {
        tag = other.tag;
        inner = std::make_unique<Value>(*other.inner);
    }
    return *this;
}
Tagged::~Tagged() = default;

// Copies and destructions recurse through nested containers; with_stack lets
// them continue on a fresh segment when the thread's stack runs low.
Value::Value(const Value& other) {
    if (other.owns_subtree()) {
        with_stack([&] { data_ = other.data_; });
    } else {
        data_ = other.data_;
    }
}

Value& Value::operator=(const Value& other) {
    if (this != &other) *this = Value(other);
    return *this;
}

Value& Value::operator=(Value&& other) noexcept {
    if (this != &other) {
        Data old = std::move(data_);
        data_ = std::move(other.data_);
        other.data_.emplace<0>();
        if (old.index() >= 6) {
            // `old` may hold a deep tree; release it under the guard.
            with_stack([&] { old.emplace<0>(); });
        }
    }
    return *this;
}

void Value::release_subtree() {
    with_stack([this] { data_.emplace<0>(); });
}

Value::~Value() {
    if (owns_subtree()) with_stack([this] { data_.emplace<0>(); });
}

bool operator==(const Value& a, const Value& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case Value::Kind::Null: return true;
        case Value::Kind::Bool: return a.as_bool() == b.as_bool();
        case Value::Kind::Int: return a.as_int() == b.as_int();
        case Value::Kind::BigInt: return a.big_int_text() == b.big_int_text();
        case Value::Kind::Float: return a.as_float() == b.as_float();
        case Value::Kind::String: return a.as_string() == b.as_string();
        case Value::Kind::Sequence: return with_stack([&] { return a.as_sequence() == b.as_sequence(); });
        case Value::Kind::Mapping: return with_stack([&] { return a.as_mapping() == b.as_mapping(); });
        case Value::Kind::Tagged:
            return a.as_tagged().tag == b.as_tagged().tag &&
                   with_stack([&] { return *a.as_tagged().inner == *b.as_tagged().inner; });
    }
    return false;
}

std::uint64_t Value::node_count() const {
    switch (kind()) {
        case Kind::Sequence:
            return with_stack([&] {
                std::uint64_t n = 1;
                for (const auto& item : as_sequence()) n += item.node_count();
                return n;
            });
        case Kind::Mapping:
            return with_stack([&] {
                std::uint64_t n = 1;
                for (const auto& e : as_mapping()) n += e.key.node_count() + e.value.node_count();
                return n;
            });
        case Kind::Tagged: return with_stack([&] { return 1 + as_tagged().inner->node_count(); });
        default: return 1;
    }
}

}  // namespace torvex
