// The composed tree read through DocumentReader (tags, resolution, aliases,
// merge keys) is the decoder's value tree, document for document, in every
// resolution mode: over hand-picked merge cases and every valid suite case.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/stack_guard.hpp"
#include "decode/decoder.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/reading.hpp"

namespace torvex::rt {
namespace {

namespace fs = std::filesystem;

Value scalar_value(const DocumentReader& reader, const YamlNode& node) {
    const Resolved r = reader.resolve(node);
    switch (r.kind) {
        case ResolvedKind::Null: return Value::null();
        case ResolvedKind::Bool: return Value::boolean(r.boolean);
        case ResolvedKind::Int: return Value::integer(r.integer);
        case ResolvedKind::BigInt: return Value::big_int(node.text.string());
        case ResolvedKind::Float: return Value::floating(r.floating);
        case ResolvedKind::Merge: return Value::string("<<");
        case ResolvedKind::Str: break;
    }
    return Value::string(node.text.str());
}

// What the Python converters build, as a Value: the same walk over the reader.
Value read(const DocumentReader& reader, const YamlNode& node, std::size_t depth = 0) {
    const YamlNode* target = reader.follow(node);
    if (target == nullptr) return Value::null();
    const YamlNode& n = *target;
    Value v = with_stack_at(depth, [&] {
        if (n.kind == NodeKind::Sequence) {
            Sequence items;
            for (const YamlNode& item : n.children) items.push_back(read(reader, item, depth + 1));
            return Value::sequence(std::move(items));
        }
        if (n.kind == NodeKind::Mapping) {
            Mapping entries;
            for (const ReadEntry& entry : reader.entries(n)) {
                Value value;
                if (entry.items) {
                    Sequence items;
                    for (const YamlNode* item : *entry.items) items.push_back(read(reader, *item, depth + 1));
                    value = Value::sequence(std::move(items));
                } else {
                    value = read(reader, *entry.value, depth + 1);
                }
                entries.push_back(MapEntry{read(reader, *entry.key, depth + 1), std::move(value)});
            }
            return Value::mapping(std::move(entries));
        }
        return scalar_value(reader, n);
    });
    const ReadTag tag = reader.tag(n);
    if (tag.custom()) return Value::tagged(*tag.full, std::move(v));
    return v;
}

void expect_same_documents(const std::string& text, ResolveMode mode, const std::string& name) {
    DecodeOptions options;
    options.mode = mode;
    auto decoded = decode_stream(text, 0, options);
    ASSERT_TRUE(decoded.ok()) << name;
    auto composed = compose_stream(text, 0, false);
    ASSERT_TRUE(composed.ok()) << name;
    const auto& roots = composed.value().roots;
    ASSERT_EQ(roots.size(), decoded.value().documents.size()) << name;
    for (std::size_t i = 0; i < roots.size(); ++i) {
        const DocumentReader reader(roots[i], mode);
        const Value ours = read(reader, roots[i]);
        const Value& theirs = decoded.value().documents[i];
        // Floats compare by ==, so only a document holding a NaN may differ.
        if (!(ours == theirs)) {
            std::string lower = text;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            EXPECT_NE(lower.find(".nan"), std::string::npos) << name << " document " << i;
        }
    }
}

constexpr ResolveMode kModes[] = {ResolveMode::Yaml12, ResolveMode::Yaml11, ResolveMode::PyYamlCompat};

TEST(RoundtripReading, MergeKeysReadAsTheDecoderApplies) {
    const char* cases[] = {
        "a: &a {x: 1, y: 2}\nb: {<<: *a, y: 3}\n",
        "a: &a {x: 1}\nb: &b {x: 2, z: 2}\nc: {<<: [*a, *b], w: 0}\n",
        "a: &a {x: 1, x: 2}\nb: {<<: *a}\n",
        "a: &a {x: 1}\nb: {<<: [*a, 5, [k]], y: 1}\n",
        "b: {<<: 5, <<: ~, y: 1}\n",
        "a: &a {x: 1}\nb: &b {<<: *a, y: 2}\nc: {<<: *b, z: 3}\n",
        "a: &a !t {x: 1}\nb: {<<: *a}\n",
        "- <<\n- {<<: {x: 1}}\n- {? {<<: {k: v}} : 1}\n",
        "a: &a {1: one, 1.0: float}\nb: {<<: *a, 1: own}\n",
        "x: !!merge <<\ny: {!!merge <<: {k: v}}\n",
        "%TAG !e! tag:example.com,2000:\n---\n- !e!t a\n- !!str 1\n- !<!x> b\n",
    };
    for (const char* text : cases) {
        for (const ResolveMode mode : kModes) expect_same_documents(text, mode, text);
    }
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(RoundtripReading, EverySuiteCaseReadsAsDecoded) {
    const fs::path root = fs::path(TORVEX_SOURCE_DIR) / ".." / "shared" / "yaml-test-suite";
    if (!fs::is_directory(root)) GTEST_SKIP() << "no test suite";
    std::size_t cases = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename() != "in.yaml" || fs::exists(entry.path().parent_path() / "error")) continue;
        const std::string text = read_file(entry.path());
        for (const ResolveMode mode : kModes) expect_same_documents(text, mode, entry.path().string());
        ++cases;
    }
    EXPECT_GT(cases, 250u);
}

}  // namespace
}  // namespace torvex::rt
