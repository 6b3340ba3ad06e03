// Hand-built round-trip trees for the emitter tests, and a reload check
// through the plain decoder.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <string_view>
#include <utility>

#include "decode/decoder.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/emitter.hpp"

namespace torvex::rt::testing {

inline YamlNode scalar(std::string_view text, ScalarStyle style = ScalarStyle::Plain) {
    YamlNode n = YamlNode::scalar(Text::owned(text), style);
    n.comments.modified = true;
    return n;
}

inline YamlNode null_node() { return YamlNode::null_node(); }

inline YamlNode alias(std::string_view name) {
    YamlNode n;
    n.kind = NodeKind::Alias;
    n.text = Text::owned(name);
    return n;
}

template <class... Nodes>
YamlNode sequence(CollectionStyle style, Nodes&&... items) {
    YamlNode n;
    n.kind = NodeKind::Sequence;
    n.style = style;
    (n.children.push_back(std::forward<Nodes>(items)), ...);
    return n;
}

// Keys and values alternate.
template <class... Nodes>
YamlNode mapping(CollectionStyle style, Nodes&&... entries) {
    YamlNode n;
    n.kind = NodeKind::Mapping;
    n.style = style;
    (n.children.push_back(std::forward<Nodes>(entries)), ...);
    return n;
}

inline YamlNode with_tag(YamlNode n, std::string_view tag) {
    n.tag = Text::owned(tag);
    return n;
}
inline YamlNode with_anchor(YamlNode n, std::string_view anchor) {
    n.anchor = Text::owned(anchor);
    return n;
}
inline YamlNode with_inline(YamlNode n, std::string_view text, std::uint32_t spaces = 1) {
    n.comments.texts().inline_comment = Text::owned(text);
    n.comments.inline_spaces = spaces;
    return n;
}
inline YamlNode with_head(YamlNode n, std::string_view text) {
    n.comments.texts().head.push_back(Text::owned(text));
    return n;
}

inline std::string emit(const YamlNode& node, EmitStyle style = {}) { return node_to_yaml(node, style); }

// Values equal, NaN equal to NaN.
inline bool same_values(const Value& a, const Value& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case Value::Kind::Float:
            return (std::isnan(a.as_float()) && std::isnan(b.as_float())) || a.as_float() == b.as_float();
        case Value::Kind::Sequence: {
            const auto& x = a.as_sequence();
            const auto& y = b.as_sequence();
            if (x.size() != y.size()) return false;
            for (std::size_t i = 0; i < x.size(); ++i)
                if (!same_values(x[i], y[i])) return false;
            return true;
        }
        case Value::Kind::Mapping: {
            const auto& x = a.as_mapping();
            const auto& y = b.as_mapping();
            if (x.size() != y.size()) return false;
            for (std::size_t i = 0; i < x.size(); ++i)
                if (!same_values(x[i].key, y[i].key) || !same_values(x[i].value, y[i].value)) return false;
            return true;
        }
        case Value::Kind::Tagged:
            return a.as_tagged().tag == b.as_tagged().tag && same_values(*a.as_tagged().inner, *b.as_tagged().inner);
        default: return a == b;
    }
}

// Both texts decode, to the same documents.
inline ::testing::AssertionResult reads_same(std::string_view emitted, std::string_view expected_yaml) {
    auto got = decode_stream(emitted, 0, {});
    if (!got.ok()) return ::testing::AssertionFailure() << "output does not load: " << got.error().message << "\n" << emitted;
    auto want = decode_stream(expected_yaml, 0, {});
    if (!want.ok()) return ::testing::AssertionFailure() << "reference does not load: " << want.error().message;
    const auto& a = got.value().documents;
    const auto& b = want.value().documents;
    if (a.size() != b.size()) return ::testing::AssertionFailure() << "document count " << a.size() << " != " << b.size() << "\n" << emitted;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!same_values(a[i], b[i])) return ::testing::AssertionFailure() << "document " << i << " differs:\n" << emitted;
    return ::testing::AssertionSuccess();
}

// The output reads back as one string with exactly this text.
inline ::testing::AssertionResult reads_as_string(std::string_view emitted, std::string_view text) {
    auto got = decode_stream(emitted, 0, {});
    if (!got.ok()) return ::testing::AssertionFailure() << "output does not load: " << got.error().message << "\n" << emitted;
    Value want = Value::string(std::string(text));
    const auto& docs = got.value().documents;
    if (docs.size() != 1 || !same_values(docs[0], want)) return ::testing::AssertionFailure() << "reads differently:\n" << emitted;
    return ::testing::AssertionSuccess();
}

}  // namespace torvex::rt::testing
