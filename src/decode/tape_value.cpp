#include "core/stack_guard.hpp"
#include "decode/tape.hpp"

namespace torvex {

namespace {

// Builds the node at `i` and leaves `i` just past its subtree.
Value build(const Tape& tape, std::size_t& i) {
    const TapeNode& node = tape.nodes[i++];
    switch (node.kind()) {
        case TapeNode::Kind::Null: return Value();
        case TapeNode::Kind::Bool: return Value::boolean(node.integer != 0);
        case TapeNode::Kind::Int: return Value::integer(node.integer);
        case TapeNode::Kind::BigInt: return Value::big_int(std::string(node.text_view()));
        case TapeNode::Kind::Float: return Value::floating(node.floating);
        case TapeNode::Kind::String: return Value::string(node.text_view());
        case TapeNode::Kind::Sequence:
            return with_stack([&] {
                Sequence items;
                items.reserve(node.size());
                for (std::uint64_t n = 0; n < node.size(); ++n) items.push_back(build(tape, i));
                return Value::sequence(std::move(items));
            });
        case TapeNode::Kind::Mapping:
            return with_stack([&] {
                Mapping entries;
                entries.reserve(node.size());
                for (std::uint64_t n = 0; n < node.size(); ++n) {
                    Value key = build(tape, i);
                    entries.emplace_back(std::move(key), build(tape, i));
                }
                return Value::mapping(std::move(entries));
            });
        case TapeNode::Kind::Tagged:
            return with_stack([&] { return Value::tagged(std::string(node.text_view()), build(tape, i)); });
    }
    return Value();
}

}  // namespace

Value tape_value(const Tape& tape, std::size_t index) { return build(tape, index); }

void append_value(Tape& tape, const Value& value) {
    switch (value.kind()) {
        case Value::Kind::Null: tape.push_null(); return;
        case Value::Kind::Bool: tape.push_bool(value.as_bool()); return;
        case Value::Kind::Int: tape.push_int(value.as_int()); return;
        case Value::Kind::BigInt: tape.push_text(TapeNode::Kind::BigInt, value.big_int_text()); return;
        case Value::Kind::Float: tape.push_float(value.as_float()); return;
        case Value::Kind::String: tape.push_text(TapeNode::Kind::String, value.as_string()); return;
        case Value::Kind::Sequence:
            with_stack([&] {
                const std::size_t header = tape.open(TapeNode::Kind::Sequence);
                for (const Value& item : value.as_sequence()) append_value(tape, item);
                tape.close(header, value.as_sequence().size());
            });
            return;
        case Value::Kind::Mapping:
            with_stack([&] {
                const std::size_t header = tape.open(TapeNode::Kind::Mapping);
                for (const MapEntry& entry : value.as_mapping()) {
                    append_value(tape, entry.key);
                    append_value(tape, entry.value);
                }
                tape.close(header, value.as_mapping().size());
            });
            return;
        case Value::Kind::Tagged:
            tape.push_text(TapeNode::Kind::Tagged, value.as_tagged().tag);
            with_stack([&] { append_value(tape, *value.as_tagged().inner); });
            return;
    }
}

}  // namespace torvex
