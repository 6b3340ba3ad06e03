// The round-trip composer and its passes.
//
// Over every valid case of the YAML test suite: composing succeeds; every
// node's extent lies inside the text with its line and column where the
// offset says; the tree, read the way the plain decoder reads text, gives the
// decoder's values; no comment is lost or attached twice. Then tables for the
// layout details (padding, blank lines, head/inline/foot comments, compact
// sequences, dropped documents, byte-order mark, directives), deep nesting,
// and the passes (1.1 warnings, the upgrade, duplicate keys).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/utf8.hpp"
#include "decode/decoder.hpp"
#include "decode/document_directives.hpp"
#include "decode/key_identity.hpp"
#include "decode/stream_decoder.hpp"
#include "roundtrip/attach_comments.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/line_table.hpp"
#include "roundtrip/passes.hpp"
#include "scanner/scanner.hpp"
#include "suite_cases.hpp"

namespace torvex::rt {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Helpers

struct SuiteCase {
    std::string name;
    std::string text;
};

// The valid cases of the suite whose text is UTF-8 (the caller validates input).
const std::vector<SuiteCase>& valid_suite_cases() {
    static const std::vector<SuiteCase> cases = [] {
        std::vector<SuiteCase> out;
        for (const testing_suite::SuiteCase& c : testing_suite::suite_cases()) {
            if (c.error) continue;
            std::string text = testing_suite::read_file(c.dir / "in.yaml");
            if (utf8::validate(text)) continue;
            out.push_back({c.name, std::move(text)});
        }
        return out;
    }();
    return cases;
}

ComposedStream compose_ok(const std::string& text, std::uint32_t file_id = 0) {
    auto r = compose_stream(text, file_id);
    if (!r.ok()) {
        ADD_FAILURE() << "compose failed: " << r.error().message << " for:\n" << text;
        return {};
    }
    return std::move(r).value();
}

// Calls f(node, parent) for every node in document order (keys before values).
void each_node(const YamlNode& node, const YamlNode* parent,
               const std::function<void(const YamlNode&, const YamlNode*)>& f) {
    f(node, parent);
    for (const YamlNode& child : node.children) each_node(child, &node, f);
}

// (line, column) of every byte offset, counted naively: breaks are \n, \r\n
// and a lone \r; a leading byte-order mark is not part of line 0.
std::vector<std::pair<std::uint32_t, std::uint32_t>> naive_positions(std::string_view text) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> at(text.size() + 1);
    std::size_t i = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    std::uint32_t line = 0, column = 0;
    for (; i <= text.size(); ++i) {
        at[i] = {line, column};
        if (i == text.size()) break;
        const char c = text[i];
        if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
            ++line;
            column = 0;
        } else if (c != '\r' && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return at;
}

// The tree as the plain decoder would read it: scalars resolved (YAML 1.2),
// tags through the document's %TAG lines, aliases expanded, merge keys applied.
class TreeReader {
public:
    explicit TreeReader(const YamlNode& root) {
        for (const Text& d : root.comments.directives()) (void)directives_.apply(d.str());
    }

    Value read(const YamlNode& node) {
        Value v = read_content(node);
        if (!node.anchor.empty()) anchors_[node.anchor.string()] = v;
        return v;
    }
    bool saw_merge = false;

private:
    Value read_content(const YamlNode& node) {
        std::optional<std::string> tag;
        bool core = false;
        if (!node.tag.empty()) {
            std::string problem;
            tag = directives_.resolve_tag(node.tag.str(), problem);
            if (!tag) tag = node.tag.string();
            core = is_core_tag(node.tag.str(), *tag);
        }
        const bool custom = tag && !core;
        Value v;
        switch (node.kind) {
            case NodeKind::Null:
                if (!tag) return Value::null();
                [[fallthrough]];
            case NodeKind::Scalar: {
                const std::string_view text = node.text.str();
                if (custom) return Value::tagged(*tag, Value::string(text));
                const bool plain = node.kind == NodeKind::Null || node.scalar_style == ScalarStyle::Plain;
                const Resolved r = resolve(ResolveMode::Yaml12, text, plain, tag);
                switch (r.kind) {
                    case ResolvedKind::Null: return Value::null();
                    case ResolvedKind::Bool: return Value::boolean(r.boolean);
                    case ResolvedKind::Int: return Value::integer(r.integer);
                    case ResolvedKind::BigInt: return Value::big_int(std::string(text));
                    case ResolvedKind::Float: return Value::floating(r.floating);
                    case ResolvedKind::Str: return Value::string(text);
                    case ResolvedKind::Merge:
                        saw_merge = true;
                        return Value::tagged("tag:yaml.org,2002:merge", Value::string("<<"));
                }
                return Value::null();
            }
            case NodeKind::Alias: {
                auto it = anchors_.find(node.text.string());
                if (it == anchors_.end()) {
                    ADD_FAILURE() << "alias *" << node.text.str() << " before its anchor";
                    return Value::null();
                }
                return it->second;
            }
            case NodeKind::Sequence: {
                Sequence items;
                for (const YamlNode& item : node.children) items.push_back(read(item));
                v = Value::sequence(std::move(items));
                break;
            }
            case NodeKind::Mapping: {
                Mapping entries;
                for (std::size_t i = 0; i < node.size(); ++i) {
                    Value k = read(node.key(i));
                    entries.push_back(MapEntry{std::move(k), read(node.value(i))});
                }
                v = Value::mapping(std::move(entries));
                break;
            }
        }
        if (custom) return Value::tagged(*tag, std::move(v));
        return v;
    }

    DocumentDirectives directives_;
    std::map<std::string, Value> anchors_;
};

std::vector<std::string> identities_of_tree(const std::vector<YamlNode>& roots) {
    std::vector<std::string> out;
    for (const YamlNode& root : roots) {
        TreeReader reader(root);
        Value v = reader.read(root);
        if (reader.saw_merge) apply_merge_keys(v);
        out.push_back(key_identity(v));
    }
    return out;
}

// ---------------------------------------------------------------------------
// Properties over the test suite

TEST(RoundtripSuite, EveryValidCaseComposes) {
    const auto& cases = valid_suite_cases();
    if (cases.empty()) GTEST_SKIP() << "yaml-test-suite not found";
    for (const SuiteCase& c : cases) {
        auto r = compose_stream(c.text, 3);
        EXPECT_TRUE(r.ok()) << c.name << ": " << (r.ok() ? "" : r.error().message);
    }
}

// The first fault of one node's extent, or "".
std::string extent_fault(const YamlNode& n, const YamlNode* parent, std::string_view text,
                         const std::vector<std::pair<std::uint32_t, std::uint32_t>>& at) {
    if (n.span.file_id != 3) return "file id not stamped";
    if (n.span.offset > n.end_offset || n.end_offset > text.size()) return "extent outside the text";
    if (std::make_pair(n.span.line, n.span.column) != at[n.span.offset]) return "start line/column off its offset";
    if (std::make_pair(n.end_line, n.end_column) != at[n.end_offset]) return "end line/column off its offset";
    if (parent != nullptr && (n.span.offset < parent->span.offset || n.end_offset > parent->end_offset)) {
        return "extent outside its parent's";
    }
    const bool block = n.kind == NodeKind::Scalar &&
                       (n.scalar_style == ScalarStyle::Literal || n.scalar_style == ScalarStyle::Folded);
    if (n.comments.raw().has_value() != block) return "raw text on a node that is no block scalar, or missing";
    if (block && n.comments.raw()->str() != text.substr(n.span.offset, n.end_offset - n.span.offset)) {
        return "raw text is not the scalar's source";
    }
    return "";
}

TEST(RoundtripSuite, ExtentsLieInTheTextWithLinesAndColumnsOfTheirOffsets) {
    for (const SuiteCase& c : valid_suite_cases()) {
        auto r = compose_stream(c.text, 3);
        if (!r.ok()) continue;
        const auto at = naive_positions(c.text);
        std::string fault;
        for (const YamlNode& root : r.value().roots) {
            each_node(root, nullptr, [&](const YamlNode& n, const YamlNode* parent) {
                if (fault.empty()) {
                    fault = extent_fault(n, parent, c.text, at);
                    if (!fault.empty()) fault += " (node at offset " + std::to_string(n.span.offset) + ")";
                }
            });
        }
        EXPECT_EQ(fault, "") << c.name;
    }
}

TEST(RoundtripSuite, TreeReadsAsTheDecoderReadsTheText) {
    std::size_t compared = 0;
    for (const SuiteCase& c : valid_suite_cases()) {
        auto r = compose_stream(c.text, 0);
        auto decoded = decode_stream(c.text, 0, DecodeOptions{});
        if (!r.ok() || !decoded.ok()) continue;  // the decoder refuses a few cases the scanner lets through
        std::vector<std::string> want;
        for (const Value& v : decoded.value().documents) {
            want.push_back(key_identity(v));
        }
        EXPECT_EQ(identities_of_tree(r.value().roots), want) << c.name << ":\n" << c.text;
        ++compared;
    }
    if (!valid_suite_cases().empty()) {
        EXPECT_GT(compared, 200u);
    }
}

TEST(RoundtripSuite, MissingKeysAreNullKeys) {
    const ComposedStream s = compose_ok(": a\n? &x b\n: c\n: *x\n");
    const YamlNode& m = s.roots.at(0);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m.key(0).kind, NodeKind::Null);
    EXPECT_EQ(m.value(0).text, "a");
    EXPECT_EQ(m.key(1).text, "b");
    EXPECT_EQ(m.key(2).kind, NodeKind::Null);
    EXPECT_EQ(m.value(2).kind, NodeKind::Alias);
}

TEST(RoundtripSuite, EveryCommentLandsExactlyOnce) {
    for (const SuiteCase& c : valid_suite_cases()) {
        auto r = compose_stream(c.text, 0);
        auto tokens = tokenize(c.text, 0, true);
        if (!r.ok() || !tokens.ok() || r.value().roots.empty()) continue;
        std::vector<std::string_view> want, got;
        for (const CommentRecord& rec : tokens.value().comments()) want.push_back(rec.text);
        for (const YamlNode& root : r.value().roots) {
            each_node(root, nullptr, [&](const YamlNode& n, const YamlNode*) {
                for (const Text& t : n.comments.head()) got.push_back(t.str());
                if (n.comments.inline_comment()) got.push_back(n.comments.inline_comment()->str());
                for (const Text& t : n.comments.foot()) got.push_back(t.str());
            });
        }
        std::sort(want.begin(), want.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, want) << c.name;
    }
}

TEST(RoundtripSuite, OneOneWarningsMatchTheDecoders) {
    for (const SuiteCase& c : valid_suite_cases()) {
        DecodeOptions options;
        options.mode = ResolveMode::Yaml11;
        options.yaml11_warnings = true;
        auto decoded = decode_stream(c.text, 0, options);
        auto r = compose_stream(c.text, 0);
        if (!r.ok() || !decoded.ok()) continue;
        EXPECT_EQ(version_warnings(r.value().roots, ResolveMode::Yaml11), decoded.value().warnings) << c.name;
    }
}

// ---------------------------------------------------------------------------
// Layout details

// A compact rendering of one node's layout record and the kind of its content.
struct Layout {
    std::string text;  // scalar text, alias name, or "" for others
    std::uint32_t blank_before, value_pad, inline_spaces;
    bool compact;
    std::vector<std::string> head;
    std::string inline_comment;
};

std::vector<Layout> layouts(const ComposedStream& s) {
    std::vector<Layout> out;
    for (const YamlNode& root : s.roots) {
        each_node(root, nullptr, [&](const YamlNode& n, const YamlNode*) {
            Layout l{n.text.string(), n.comments.blank_before, n.comments.value_pad, n.comments.inline_spaces,
                     n.comments.compact, {}, n.comments.inline_comment() ? n.comments.inline_comment()->string() : ""};
            for (const Text& t : n.comments.head()) l.head.push_back(t.string());
            out.push_back(std::move(l));
        });
    }
    return out;
}

// Finds the node with this scalar text (or alias name); fails when absent.
const Layout& node(const std::vector<Layout>& all, std::string_view text) {
    for (const Layout& l : all) {
        if (l.text == text) return l;
    }
    ADD_FAILURE() << "no node " << text;
    static const Layout none{};
    return none;
}

struct LayoutCase {
    const char* yaml;
    const char* node;  // scalar text of the node checked
    std::uint32_t blank_before, value_pad, inline_spaces;
    const char* inline_comment;
    std::vector<std::string> head;
    bool compact = false;
};

class RoundtripLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(RoundtripLayout, IsRecorded) {
    const LayoutCase& c = GetParam();
    const ComposedStream s = compose_ok(c.yaml);
    const auto all = layouts(s);
    const Layout& l = node(all, c.node);
    EXPECT_EQ(l.blank_before, c.blank_before) << "blank_before";
    EXPECT_EQ(l.value_pad, c.value_pad) << "value_pad";
    EXPECT_EQ(l.inline_spaces, c.inline_spaces) << "inline_spaces";
    EXPECT_EQ(l.inline_comment, c.inline_comment) << "inline";
    EXPECT_EQ(l.head, c.head) << "head";
    EXPECT_EQ(l.compact, c.compact) << "compact";
}

INSTANTIATE_TEST_SUITE_P(
    RoundtripTable, RoundtripLayout,
    ::testing::Values(
        // value 1 takes the inline comment, the key none
        LayoutCase{"a: 1  # note\n", "1", 0, 1, 2, "note", {}},
        LayoutCase{"a: 1  # note\n", "a", 0, 0, 0, "", {}},
        // the spacing is what stands before the `#`, after the closing quote
        LayoutCase{"key: \"v\"  # c\n", "v", 0, 1, 2, "c", {}},
        // blank lines before the comment count; those after it do not
        LayoutCase{"a: 1\n\n\n# head\n\nkey: 2\n", "key", 2, 0, 0, "", {"head"}},
        LayoutCase{"a: 1\n  \n\t\nkey: 2\n", "key", 2, 0, 0, "", {}},
        LayoutCase{"a: 1\r\n\r\nkey: 2\r\n", "key", 1, 0, 0, "", {}},
        LayoutCase{"a: 1\n# one\n#\n# three\nkey: 2\n", "key", 0, 0, 0, "", {"one", "", "three"}},
        // comments above the first node are the root's
        LayoutCase{"# one\nkey: 2\n", "", 0, 0, 0, "", {"one"}},
        // the first node of the stream has no blank lines before it
        LayoutCase{"\n\n# c\n\nkey: 1\n", "", 0, 0, 0, "", {"c"}},
        // value padding after `:`, before the properties if any, whatever the key's style
        LayoutCase{"key:   value\n", "value", 0, 3, 0, "", {}},
        LayoutCase{"key: &a value\n", "value", 0, 1, 0, "", {}},
        LayoutCase{"key:  !t value\n", "value", 0, 2, 0, "", {}},
        LayoutCase{"'key':   value\n", "value", 0, 3, 0, "", {}},
        // indentless sequence entries: padding after `-`
        LayoutCase{"k:\n-    x\n", "x", 0, 4, 0, "", {}},
        LayoutCase{"k:\n- [x]\n", "x", 0, 0, 0, "", {}},
        LayoutCase{"k:\n- &a x\n", "x", 0, 1, 0, "", {}},
        // so do entries of a sequence opened by a start token
        LayoutCase{"-    x\n", "x", 0, 4, 0, "", {}},
        // comments inside a flow collection attach by position; one after it is the collection's
        LayoutCase{"k: {a: 1}  # c\n", "1", 0, 0, 0, "", {}},
        LayoutCase{"k: [\n  a,  # first\n  # between\n  b\n  ]\n", "b", 0, 0, 0, "", {"between"}},
        LayoutCase{"k: [\n  a,  # first\n  b\n  ]\n", "a", 0, 0, 2, "first", {}},
        // an alias ends after its name
        LayoutCase{"a: &x 1\nb: *x  # c\n", "x", 0, 1, 2, "c", {}},
        // a comment after a key with nothing after it trails its null value, not the next key
        LayoutCase{"k:  # c\nnext: 1\n", "next", 0, 0, 0, "", {}},
        // a key without `:` has its Null value at its end, which takes the comment
        LayoutCase{"? k  # c\n? next\n", "next", 0, 0, 0, "", {}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(RoundtripCompose, BlankLinesCountFromTheEndOfThePreviousDocument) {
    const ComposedStream s = compose_ok("a: |\n  x\n\n---\n\n\n# c\n\nb: 2\n");
    ASSERT_EQ(s.roots.size(), 2u);
    // the block scalar ends where its raw text ends: on the line of `---`
    EXPECT_EQ(s.roots[1].comments.blank_before, 2u);
    ASSERT_EQ(s.roots[1].comments.head().size(), 1u);
    EXPECT_EQ(s.roots[1].key(0).comments.blank_before, 0u);
}

TEST(RoundtripCompose, CompactForSequenceEntriesOpenedOnTheirParentsLine) {
    {
        const ComposedStream s = compose_ok("k:\n- - a\n  - b\n- c\n");
        const YamlNode& seq = s.roots.at(0).value(0);
        ASSERT_EQ(seq.kind, NodeKind::Sequence);
        EXPECT_TRUE(seq.children.at(0).comments.compact);
        EXPECT_EQ(seq.children.at(0).size(), 2u);
        EXPECT_FALSE(seq.children.at(1).comments.compact);
    }
    {
        const ComposedStream s = compose_ok("- - a\n-\n  - b\n");
        EXPECT_TRUE(s.roots.at(0).children.at(0).comments.compact);
        EXPECT_FALSE(s.roots.at(0).children.at(1).comments.compact);
        EXPECT_TRUE(s.roots.at(0).children.at(1).comments.own_line);
    }
}

TEST(RoundtripCompose, NullsKeepTheirPropertiesAndPositions) {
    const std::string text = "key:\nanch: &a\ntagged: !t &b  # c\nseq:\n- \n- &q\n";
    const ComposedStream s = compose_ok(text);
    ASSERT_EQ(s.roots.size(), 1u);
    const YamlNode& map = s.roots[0];
    ASSERT_EQ(map.size(), 4u);
    // `key:` - a Null just past the colon
    EXPECT_EQ(map.value(0).kind, NodeKind::Null);
    EXPECT_EQ(map.value(0).span.offset, 4u);
    EXPECT_EQ(map.value(0).end_offset, 4u);
    // `anch: &a` - starts at the anchor, ends past it
    const YamlNode& anch = map.value(1);
    EXPECT_EQ(anch.kind, NodeKind::Null);
    EXPECT_EQ(anch.anchor, "a");
    EXPECT_EQ(anch.span.offset, text.find("&a"));
    EXPECT_EQ(anch.end_offset, text.find("&a") + 2);
    // both properties, and the comment trails the null
    const YamlNode& tagged = map.value(2);
    EXPECT_EQ(tagged.kind, NodeKind::Null);
    EXPECT_EQ(tagged.tag, "!t");
    EXPECT_EQ(tagged.anchor, "b");
    EXPECT_EQ(tagged.span.offset, text.find("!t"));
    EXPECT_EQ(tagged.end_offset, text.find("&b") + 2);
    ASSERT_TRUE(tagged.comments.inline_comment());
    EXPECT_EQ(tagged.comments.inline_comment()->str(), "c");
    EXPECT_EQ(tagged.comments.inline_spaces, 2u);
    // indentless entries: an empty one and one with only an anchor
    const YamlNode& seq = map.value(3);
    ASSERT_EQ(seq.kind, NodeKind::Sequence);
    ASSERT_EQ(seq.size(), 2u);
    EXPECT_EQ(seq.children[0].kind, NodeKind::Null);
    EXPECT_EQ(seq.children[1].kind, NodeKind::Null);
    EXPECT_EQ(seq.children[1].anchor, "q");
}

TEST(RoundtripCompose, ValueOfAKeyWithoutColonSitsAtTheKeysEnd) {
    const ComposedStream s = compose_ok("? key  # c\n? next\n");
    const YamlNode& m = s.roots.at(0);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m.value(0).kind, NodeKind::Null);
    EXPECT_EQ(m.value(0).span.offset, m.key(0).end_offset);
    EXPECT_EQ(m.value(0).span.line, 0u);
    ASSERT_TRUE(m.value(0).comments.inline_comment());
    EXPECT_EQ(m.value(0).comments.inline_comment()->str(), "c");
    EXPECT_EQ(m.value(0).comments.inline_spaces, 2u);
}

TEST(RoundtripCompose, DocumentsExplicitStartsAndEmptyOnes) {
    {
        const ComposedStream s = compose_ok("a: 1\n");
        ASSERT_EQ(s.roots.size(), 1u);
        EXPECT_FALSE(s.roots[0].explicit_start);
    }
    {
        const ComposedStream s = compose_ok("---\na: 1\n");
        ASSERT_EQ(s.roots.size(), 1u);
        EXPECT_TRUE(s.roots[0].explicit_start);
    }
    {
        // An empty `---` document is a null root, as every reader counts it.
        const ComposedStream s = compose_ok("a\n---\n---\nb\n...\n---\n...\n--- &x\n");
        ASSERT_EQ(s.roots.size(), 5u);
        EXPECT_EQ(s.roots[0].text, "a");
        EXPECT_EQ(s.roots[1].kind, NodeKind::Null);
        EXPECT_EQ(s.roots[1].span.offset, 5u);
        EXPECT_EQ(s.roots[2].text, "b");
        EXPECT_TRUE(s.roots[2].explicit_start);
        EXPECT_EQ(s.roots[3].kind, NodeKind::Null);
        EXPECT_TRUE(s.roots[3].explicit_start);
        EXPECT_EQ(s.roots[4].kind, NodeKind::Null);
        EXPECT_EQ(s.roots[4].anchor, "x");
    }
    {
        const ComposedStream s = compose_ok("# only a comment\n");
        EXPECT_TRUE(s.roots.empty());
    }
}

TEST(RoundtripCompose, DirectivesAreKeptOnTheirRoot) {
    const ComposedStream s = compose_ok("%YAML 1.1\n%TAG !e! tag:example.com,2000:\n--- !e!x a\n...\n%YAML 1.2\n--- b\n");
    ASSERT_EQ(s.roots.size(), 2u);
    ASSERT_EQ(s.roots[0].comments.directives().size(), 2u);
    EXPECT_EQ(s.roots[0].comments.directives()[0], "YAML 1.1");
    EXPECT_EQ(s.roots[0].comments.directives()[1], "TAG !e! tag:example.com,2000:");
    EXPECT_EQ(s.roots[0].tag, "!e!x");
    ASSERT_EQ(s.roots[1].comments.directives().size(), 1u);
    EXPECT_EQ(s.roots[1].comments.directives()[0], "YAML 1.2");
}

TEST(RoundtripCompose, ByteOrderMarkMarksTheFirstRootOnly) {
    const ComposedStream s = compose_ok("\xEF\xBB\xBF" "a: 1\n--- b\n");
    ASSERT_EQ(s.roots.size(), 2u);
    EXPECT_TRUE(s.roots[0].leading_bom);
    EXPECT_FALSE(s.roots[1].leading_bom);
    EXPECT_EQ(s.roots[0].span.column, 0u);
    EXPECT_EQ(s.roots[0].span.offset, 3u);
    const ComposedStream plain = compose_ok("a: 1\n");
    EXPECT_FALSE(plain.roots.at(0).leading_bom);
}

TEST(RoundtripCompose, LastCommentsGoToTheLastRootsFoot) {
    const ComposedStream s = compose_ok("a: 1\n---\nb: 2\n# end one\n\n# end two\n");
    ASSERT_EQ(s.roots.size(), 2u);
    EXPECT_TRUE(s.roots[0].comments.foot().empty());
    ASSERT_EQ(s.roots[1].comments.foot().size(), 2u);
    EXPECT_EQ(s.roots[1].comments.foot()[0], "end one");
    EXPECT_EQ(s.roots[1].comments.foot()[1], "end two");
}

TEST(RoundtripCompose, ScalarsKeepDecodedTextAndBlockScalarsTheirSource) {
    const std::string text = "a: 'it''s'\nb: \"x\\ty\"\nc: |+\n  lit\n\nd: >-\n  folded\n  text\ne: plain\n  folded\n";
    const ComposedStream s = compose_ok(text);
    const YamlNode& m = s.roots.at(0);
    EXPECT_EQ(m.value(0).text, "it's");
    EXPECT_EQ(m.value(0).scalar_style, ScalarStyle::SingleQuoted);
    EXPECT_EQ(m.value(1).text, "x\ty");
    EXPECT_EQ(m.value(2).text, "lit\n\n");
    ASSERT_TRUE(m.value(2).comments.raw());
    EXPECT_EQ(m.value(2).comments.raw()->str(), "|+\n  lit\n\n");
    EXPECT_EQ(m.value(3).text, "folded text");
    ASSERT_TRUE(m.value(3).comments.raw());
    EXPECT_EQ(m.value(3).comments.raw()->str().substr(0, 3), ">-\n");
    EXPECT_EQ(m.value(4).text, "plain folded");
    EXPECT_FALSE(m.value(4).comments.raw());
    EXPECT_EQ(m.value(4).end_line, 9u);
    // texts are views into the stored text or arena, never copies of their own
    each_node(m, nullptr, [](const YamlNode& n, const YamlNode*) { EXPECT_FALSE(n.text.is_owned()); });
}

TEST(RoundtripCompose, FlowSequencePairsBecomeOnePairMappings) {
    const ComposedStream s = compose_ok("[a: 1, ? b : 2, ? c, d]\n");
    const YamlNode& seq = s.roots.at(0);
    ASSERT_EQ(seq.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        const YamlNode& pair = seq.children[i];
        ASSERT_EQ(pair.kind, NodeKind::Mapping) << i;
        EXPECT_EQ(pair.style, CollectionStyle::Flow);
        EXPECT_EQ(pair.span, pair.key(0).span);
        EXPECT_EQ(pair.end_offset, std::max(pair.key(0).end_offset, pair.value(0).end_offset));
    }
    EXPECT_EQ(seq.children[2].value(0).kind, NodeKind::Null);
    EXPECT_EQ(seq.children[3].kind, NodeKind::Scalar);
}

TEST(RoundtripCompose, MergeKeysAreOrdinaryKeys) {
    const ComposedStream s = compose_ok("b: &b {x: 1}\nd:\n  <<: *b\n  y: 2\n");
    const YamlNode& d = s.roots.at(0).value(1);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d.key(0).text, "<<");
    EXPECT_EQ(d.value(0).kind, NodeKind::Alias);
    EXPECT_EQ(d.value(0).text, "b");
}

TEST(RoundtripCompose, SyntaxErrorsComeFromTheScanner) {
    auto r = compose_stream("a: [1, 2\n", 0);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Syntax);
    auto direct = tokenize("a: [1, 2\n", 0, true);
    ASSERT_FALSE(direct.ok());
    EXPECT_EQ(r.error().message, direct.error().message);
}

TEST(RoundtripCompose, TextsOutliveMovesOfTheResult) {
    std::vector<ComposedStream> kept;
    for (int i = 0; i < 8; ++i) kept.push_back(compose_ok("k: \"a\\tb\" # c\ns: x\n"));
    for (const ComposedStream& s : kept) {
        EXPECT_EQ(s.roots.at(0).value(0).text, "a\tb");
        EXPECT_EQ(s.roots.at(0).value(0).comments.inline_comment()->str(), "c");
    }
}

TEST(RoundtripCompose, DeepBlockNestingComposesAndWalks) {
    constexpr std::size_t kDepth = 100000;
    std::string text;
    text.reserve(kDepth * 2 + 2);
    for (std::size_t i = 0; i < kDepth; ++i) text += "- ";
    text += "x\n";
    auto r = compose_stream(text, 0);
    ASSERT_TRUE(r.ok()) << r.error().message;
    std::vector<YamlNode>& roots = r.value().roots;
    const YamlNode* n = &roots.at(0);
    std::size_t depth = 0;
    while (n->kind == NodeKind::Sequence) {
        ASSERT_EQ(n->children.size(), 1u);
        n = &n->children[0];
        ++depth;
    }
    EXPECT_EQ(depth, kDepth);
    EXPECT_EQ(n->text, "x");
    EXPECT_EQ(roots[0].end_offset, text.size() - 1);
    EXPECT_TRUE(version_warnings(roots, ResolveMode::Yaml11).empty());
    EXPECT_TRUE(check_duplicate_keys(roots, ResolveMode::Yaml12).ok());
    upgrade_to_1_2(roots, ResolveMode::Yaml11);
    EXPECT_FALSE(is_modified(roots[0]));
    const LineColumn end = approximate_end(roots[0]);
    EXPECT_EQ(end.column, kDepth * 2 + 1);
}

TEST(RoundtripCompose, DeepNestingWithDuplicateAtTheBottom) {
    constexpr std::size_t kDepth = 100000;
    std::string text;
    for (std::size_t i = 0; i < kDepth; ++i) text += "- ";
    text += "k: {a: 1, a: 2}\n";
    auto r = compose_stream(text, 0);
    ASSERT_TRUE(r.ok()) << r.error().message;
    auto check = check_duplicate_keys(r.value().roots, ResolveMode::Yaml12);
    ASSERT_FALSE(check.ok());
    EXPECT_EQ(check.error().message, "duplicate mapping key: a");
    EXPECT_EQ(check.error().span->column, kDepth * 2 + 10);
    EXPECT_EQ(duplicate_key_warnings(r.value().roots, ResolveMode::Yaml12).size(), 1u);
}

// ---------------------------------------------------------------------------
// Passes

struct DuplicateCase {
    const char* yaml;
    ResolveMode mode;
    std::vector<std::string> warnings;  // empty: no duplicates
};

class RoundtripDuplicates : public ::testing::TestWithParam<DuplicateCase> {};

TEST_P(RoundtripDuplicates, WarningsAndErrorAsTheDecoderWordsThem) {
    const DuplicateCase& c = GetParam();
    const ComposedStream s = compose_ok(c.yaml);
    EXPECT_EQ(duplicate_key_warnings(s.roots, c.mode), c.warnings);
    auto check = check_duplicate_keys(s.roots, c.mode);
    EXPECT_EQ(check.ok(), c.warnings.empty());

    // The decoder, given the same text, agrees on both counts.
    DecodeOptions warn;
    warn.mode = c.mode;
    warn.duplicate_keys_warn = true;
    auto decoded = decode_stream(c.yaml, 0, warn);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.value().warnings, c.warnings);
    DecodeOptions error = warn;
    error.duplicate_keys_error = true;
    auto refused = decode_stream(c.yaml, 0, error);
    EXPECT_EQ(refused.ok(), check.ok());
    if (!check.ok() && !refused.ok()) {
        EXPECT_EQ(check.error().kind, ErrorKind::DuplicateKey);
        EXPECT_EQ(check.error().message, refused.error().message);
        EXPECT_EQ(check.error().span, refused.error().span);
    }
}

INSTANTIATE_TEST_SUITE_P(
    RoundtripTable, RoundtripDuplicates,
    ::testing::Values(
        DuplicateCase{"a: 1\na: 2\n", ResolveMode::Yaml12,
                      {"duplicate mapping key 'a' at line 2, column 1; keeping the last value"}},
        DuplicateCase{"1: x\n0x1: y\n", ResolveMode::Yaml12,
                      {"duplicate mapping key 'Int(1)' at line 2, column 1; keeping the last value"}},
        DuplicateCase{"1: x\n'1': y\n", ResolveMode::Yaml12, {}},
        DuplicateCase{"yes: 1\ntrue: 2\n", ResolveMode::Yaml11,
                      {"duplicate mapping key 'Bool(true)' at line 2, column 1; keeping the last value"}},
        DuplicateCase{"yes: 1\ntrue: 2\n", ResolveMode::Yaml12, {}},
        DuplicateCase{"y: 1\ntrue: 2\n", ResolveMode::PyYamlCompat, {}},
        DuplicateCase{"~: 1\nnull: 2\n", ResolveMode::Yaml12,
                      {"duplicate mapping key 'Null' at line 2, column 1; keeping the last value"}},
        DuplicateCase{"1.0: a\n1e0: b\n1: c\n", ResolveMode::Yaml12,
                      {"duplicate mapping key 'Float(1.0)' at line 2, column 1; keeping the last value"}},
        DuplicateCase{"!!str 1: a\n'1': b\n", ResolveMode::Yaml12,
                      {"duplicate mapping key '1' at line 2, column 1; keeping the last value"}},
        DuplicateCase{"!x a: 1\na: 2\n", ResolveMode::Yaml12, {}},
        DuplicateCase{"? [a, b]\n: 1\n? [a, b]\n: 2\n? ['a,b']\n: 3\n", ResolveMode::Yaml12,
                      {"duplicate mapping key 'Sequence([String(\"a\"), String(\"b\")])' at line 3, column 3; "
                       "keeping the last value"}},
        // nested duplicates are reported before the enclosing one
        DuplicateCase{"k: {x: 1, x: 2}\nk: 3\n", ResolveMode::Yaml12,
                      {"duplicate mapping key 'x' at line 1, column 11; keeping the last value",
                       "duplicate mapping key 'k' at line 2, column 1; keeping the last value"}},
        // an alias key is the key it stands for
        DuplicateCase{"&a x: 1\n*a : 2\n", ResolveMode::Yaml12,
                      {"duplicate mapping key 'x' at line 2, column 1; keeping the last value"}},
        // merge keys are never duplicates
        DuplicateCase{"a: &a {x: 1}\nb: &b {y: 1}\nc:\n  <<: *a\n  <<: *b\n", ResolveMode::Yaml12, {}},
        // a large mapping takes the hashed path
        DuplicateCase{"a: 1\nb: 1\nc: 1\nd: 1\ne: 1\nf: 1\ng: 1\nh: 1\ni: 1\nj: 1\nb: 2\n0x10: 1\n16: 2\n",
                      ResolveMode::Yaml12,
                      {"duplicate mapping key 'b' at line 11, column 1; keeping the last value",
                       "duplicate mapping key 'Int(16)' at line 13, column 1; keeping the last value"}},
        DuplicateCase{"- a: 1\n- a: 2\n---\na: 1\n---\na: 2\n", ResolveMode::Yaml12, {}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

struct UpgradeCase {
    const char* value;  // the text after `k: `
    ResolveMode mode;
    const char* text;   // the value's text afterwards
    bool modified;
    ScalarStyle style = ScalarStyle::Plain;
};

class RoundtripUpgrade : public ::testing::TestWithParam<UpgradeCase> {};

TEST_P(RoundtripUpgrade, RewritesWhatReadsDifferentlyUnder12) {
    const UpgradeCase& c = GetParam();
    ComposedStream s = compose_ok(std::string("k: ") + c.value + "\n" + c.value + ": v\n");
    upgrade_to_1_2(s.roots, c.mode);
    for (const YamlNode* n : {&s.roots.at(0).value(0), &s.roots.at(0).key(1)}) {  // values and keys alike
        EXPECT_EQ(n->text, c.text);
        EXPECT_EQ(n->comments.modified, c.modified);
        EXPECT_EQ(n->text.is_owned(), c.modified && c.style == ScalarStyle::Plain);
        EXPECT_EQ(n->scalar_style, c.style);
    }
    EXPECT_FALSE(s.roots[0].key(0).comments.modified);
    if (!c.modified) return;
    // Read under 1.2, the new text means what the old one meant under the load's mode.
    const Resolved before = resolve(c.mode, c.value, true, std::nullopt);
    const Resolved after = resolve(ResolveMode::Yaml12, c.text, c.style == ScalarStyle::Plain, std::nullopt);
    EXPECT_EQ(before.kind == ResolvedKind::BigInt ? ResolvedKind::BigInt : before.kind, after.kind);
}

INSTANTIATE_TEST_SUITE_P(
    RoundtripTable, RoundtripUpgrade,
    ::testing::Values(UpgradeCase{"yes", ResolveMode::Yaml11, "true", true},
                      UpgradeCase{"Off", ResolveMode::Yaml11, "false", true},
                      UpgradeCase{"y", ResolveMode::Yaml11, "true", true},
                      UpgradeCase{"y", ResolveMode::PyYamlCompat, "y", false},
                      UpgradeCase{"true", ResolveMode::Yaml11, "true", false},
                      UpgradeCase{"010", ResolveMode::Yaml11, "8", true},
                      UpgradeCase{"0b101", ResolveMode::Yaml11, "5", true},
                      UpgradeCase{"1_000", ResolveMode::Yaml11, "1000", true},
                      UpgradeCase{"1:30", ResolveMode::Yaml11, "90", true},
                      UpgradeCase{"0x1F", ResolveMode::Yaml11, "0x1F", false},
                      UpgradeCase{"1_000.5", ResolveMode::Yaml11, "1000.5", true},
                      UpgradeCase{"190:20:30.15", ResolveMode::Yaml11, "685230.15", true},
                      UpgradeCase{"1e3", ResolveMode::Yaml11, "1e3", false},
                      UpgradeCase{".nan", ResolveMode::Yaml11, ".nan", false},
                      UpgradeCase{"12_345_678_901_234_567_890", ResolveMode::Yaml11, "12345678901234567890", true},
                      UpgradeCase{"0o17", ResolveMode::Yaml11, "0o17", true, ScalarStyle::DoubleQuoted},
                      UpgradeCase{"hello", ResolveMode::Yaml11, "hello", false},
                      UpgradeCase{"yes", ResolveMode::Yaml12, "yes", false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(RoundtripUpgradePass, LeavesQuotedAndCustomTaggedScalarsAlone) {
    ComposedStream s = compose_ok("a: 'yes'\nb: !x yes\nc: !!bool yes\nd: !!int 0b11\n");
    upgrade_to_1_2(s.roots, ResolveMode::Yaml11);
    const YamlNode& m = s.roots.at(0);
    EXPECT_EQ(m.value(0).text, "yes");
    EXPECT_EQ(m.value(1).text, "yes");
    EXPECT_FALSE(m.value(1).comments.modified);
    EXPECT_EQ(m.value(2).text, "true");  // !!bool yes is false under 1.2
    EXPECT_EQ(m.value(2).tag, "!!bool");
    EXPECT_EQ(m.value(3).text, "3");
    EXPECT_TRUE(is_modified(m));
}

TEST(RoundtripVersionWarnings, KeysTagsAndDocumentOrder) {
    const ComposedStream s = compose_ok("yes: on\n'no': !!str off\nn: [010, !x y]\n");
    const auto got = version_warnings(s.roots, ResolveMode::Yaml11);
    const std::vector<std::string> want = {
        "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 1",
        "YAML 1.1 syntax 'on' resolves as bool in 1.1 but str in 1.2 at line 1, column 6",
        "YAML 1.1 syntax 'n' resolves as bool in 1.1 but str in 1.2 at line 3, column 1",
        "YAML 1.1 syntax '010' resolves as int in 1.1 but str in 1.2 at line 3, column 5",
    };
    EXPECT_EQ(got, want);
    EXPECT_TRUE(version_warnings(s.roots, ResolveMode::Yaml12).empty());
}

TEST(RoundtripVersionWarnings, TagHandlesFromDirectives) {
    const ComposedStream s = compose_ok("%TAG !e! tag:yaml.org,2002:\n--- !e!bool yes\n");
    const auto got = version_warnings(s.roots, ResolveMode::Yaml11);
    DecodeOptions options;
    options.mode = ResolveMode::Yaml11;
    options.yaml11_warnings = true;
    auto decoded = decode_stream("%TAG !e! tag:yaml.org,2002:\n--- !e!bool yes\n", 0, options);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(got, decoded.value().warnings);
}

// Columns count characters: every byte but UTF-8 continuation bytes, for
// every length and alignment (the count goes a word at a time).
TEST(RoundtripLineTable, CountsCharactersAsTheBytewiseRuleDoes) {
    const std::string text =
        "ab\xC3\xA9" "c \xE2\x82\xAC\xF0\x9F\x98\x80xyz\x80\xBF\xFF\t\xC2\xA0" "end of text, plain ascii tail";
    for (std::size_t from = 0; from < text.size(); ++from) {
        for (std::size_t length = 0; from + length <= text.size(); ++length) {
            const std::string_view bytes = std::string_view(text).substr(from, length);
            std::uint32_t expected = 0;
            for (const char c : bytes) expected += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            ASSERT_EQ(count_chars(bytes), expected) << from << "+" << length;
        }
    }
}

}  // namespace
}  // namespace torvex::rt
