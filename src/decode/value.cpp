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
void Value::copy_from(const Value& other) {
    switch (other.kind_) {
        case Kind::Null: break;
        case Kind::Bool: b_ = other.b_; break;
        case Kind::Int: i_ = other.i_; break;
        case Kind::BigInt: new (&big_) BigInt(other.big_); break;
        case Kind::Float: f_ = other.f_; break;
        case Kind::String: new (&str_) std::string(other.str_); break;
        case Kind::Sequence: new (&seq_) Sequence(other.seq_); break;
        case Kind::Mapping: new (&map_) Mapping(other.map_); break;
        case Kind::Tagged: new (&tag_) Tagged(other.tag_); break;
    }
    kind_ = other.kind_;
}

void Value::move_subtree_from(Value&& other) noexcept {
    switch (other.kind_) {
        case Kind::Sequence: new (&seq_) Sequence(std::move(other.seq_)); break;
        case Kind::Mapping: new (&map_) Mapping(std::move(other.map_)); break;
        case Kind::Tagged: new (&tag_) Tagged(std::move(other.tag_)); break;
        default: break;
    }
}

Value::Value(const Value& other) {
    if (other.owns_subtree()) {
        with_stack([&] { copy_from(other); });
    } else {
        copy_from(other);
    }
}

Value& Value::operator=(const Value& other) {
    if (this != &other) *this = Value(other);
    return *this;
}

Value& Value::operator=(Value&& other) noexcept {
    if (this != &other) {
        // The old contents may hold a deep tree (or `other` itself): release
        // them only after taking other's, through old's destructor.
        Value old(std::move(*this));
        destroy();
        move_from(std::move(other));
        other.destroy();
        other.kind_ = Kind::Null;
    }
    return *this;
}

void Value::release_subtree() noexcept {
    with_stack([this] {
        switch (kind_) {
            case Kind::Sequence: seq_.~Sequence(); break;
            case Kind::Mapping: map_.~Mapping(); break;
            case Kind::Tagged: tag_.~Tagged(); break;
            default: break;
        }
    });
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
