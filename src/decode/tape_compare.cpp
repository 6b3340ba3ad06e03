#include <cstring>

#include "decode/tape.hpp"

namespace torvex {

namespace {

bool same_node(const TapeNode& a, const TapeNode& b) noexcept {
    if (a.head != b.head) return false;  // kind and text length or item count
    switch (a.kind()) {
        case TapeNode::Kind::Null: return true;
        case TapeNode::Kind::Bool:
        case TapeNode::Kind::Int: return a.integer == b.integer;
        case TapeNode::Kind::Float: return std::memcmp(&a.floating, &b.floating, sizeof a.floating) == 0;
        case TapeNode::Kind::BigInt:
        case TapeNode::Kind::String:
        case TapeNode::Kind::Tagged: return a.text_view() == b.text_view();
        case TapeNode::Kind::Sequence:
        case TapeNode::Kind::Mapping: return a.span == b.span;
    }
    return false;
}

}  // namespace

bool same_documents(const DecodedTape& a, const DecodedTape& b) noexcept {
    if (a.documents != b.documents || a.has_merge_keys != b.has_merge_keys || a.anchors != b.anchors) return false;
    const std::vector<TapeNode>& x = a.tape.nodes;
    const std::vector<TapeNode>& y = b.tape.nodes;
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!same_node(x[i], y[i])) return false;
    }
    return true;
}

}  // namespace torvex
