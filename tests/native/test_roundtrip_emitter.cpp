// The round-trip emitter over hand-built trees: each rule where writing a
// node's recorded style literally would change what a reader gets back, the
// layout rules, and deep nesting.
#include <gtest/gtest.h>

#include <string>

#include "roundtrip_trees.hpp"

namespace torvex::rt {
namespace {

using namespace torvex::rt::testing;
constexpr auto Block = CollectionStyle::Block;
constexpr auto Flow = CollectionStyle::Flow;

// ---- plain scalars that cannot stay plain ----------------------------------

struct PlainCase {
    const char* text;
    bool in_flow;
    bool prefer_double;
    const char* written;  // the scalar as written
};

std::ostream& operator<<(std::ostream& os, const PlainCase& c) {
    return os << '"' << c.text << '"' << (c.in_flow ? " in flow" : "") << (c.prefer_double ? "" : " single");
}

class RoundtripPlainScalar : public ::testing::TestWithParam<PlainCase> {};

TEST_P(RoundtripPlainScalar, KeepsTextAndStaysPlainWherePossible) {
    const PlainCase& c = GetParam();
    YamlNode root = c.in_flow ? mapping(Block, scalar("k"), sequence(Flow, scalar(c.text)))
                              : mapping(Block, scalar("k"), scalar(c.text));
    const std::string out = emit(root, EmitStyle{NullStyle::Empty, c.prefer_double});
    const std::string expected = c.in_flow ? "k: [" + std::string(c.written) + "]\n" : "k: " + std::string(c.written) + "\n";
    EXPECT_EQ(out, expected);
    // Plain texts that resolve to other types are left to the reader (that
    // is what they were in the source); every other one must read back as the text.
    if (std::string_view(c.written) != c.text) {
        auto doc = decode_stream(out, 0, {});
        ASSERT_TRUE(doc.ok()) << out;
        const Value& v = doc.value().documents[0].as_mapping()[0].value;
        const Value& s = c.in_flow ? v.as_sequence()[0] : v;
        ASSERT_EQ(s.kind(), Value::Kind::String) << out;
        EXPECT_EQ(s.as_string(), c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Roundtrip, RoundtripPlainScalar,
    ::testing::Values(
        // Read as other types but plain in the source: stay plain.
        PlainCase{"true", false, true, "true"}, PlainCase{"-5", false, true, "-5"},
        PlainCase{"null", true, true, "null"}, PlainCase{"0x1F", false, true, "0x1F"},
        PlainCase{"-x", false, true, "-x"}, PlainCase{"?x", false, true, "?x"}, PlainCase{":x", false, true, ":x"},
        PlainCase{"a:b", false, true, "a:b"}, PlainCase{"a#b", false, true, "a#b"},
        PlainCase{"a\tb", false, true, "a\tb"}, PlainCase{"it's", false, true, "it's"},
        PlainCase{"a,b", false, true, "a,b"}, PlainCase{"--x", false, true, "--x"},
        // Cannot be plain here.
        PlainCase{"a\n\nb", false, true, "\"a\\n\\nb\""}, PlainCase{"a\nb", false, false, "\"a\\nb\""},
        PlainCase{" lead", false, true, "\" lead\""}, PlainCase{" lead", false, false, "' lead'"},
        PlainCase{"trail ", false, true, "\"trail \""}, PlainCase{"trail\t", false, false, "'trail\t'"},
        PlainCase{"", false, true, "\"\""}, PlainCase{"", false, false, "''"},
        PlainCase{"- x", false, true, "\"- x\""}, PlainCase{"-", false, true, "\"-\""},
        PlainCase{"? x", false, true, "\"? x\""}, PlainCase{":", false, true, "\":\""},
        PlainCase{"a: b", false, true, "\"a: b\""}, PlainCase{"a:\tb", false, true, "\"a:\\tb\""},
        PlainCase{"x:", false, false, "'x:'"}, PlainCase{"a #b", false, true, "\"a #b\""},
        PlainCase{"#x", false, true, "\"#x\""}, PlainCase{"&x", false, true, "\"&x\""},
        PlainCase{"*x", false, true, "\"*x\""}, PlainCase{"!x", false, true, "\"!x\""},
        PlainCase{"|x", false, true, "\"|x\""}, PlainCase{">x", false, true, "\">x\""},
        PlainCase{"%x", false, true, "\"%x\""}, PlainCase{"@x", false, true, "\"@x\""},
        PlainCase{"`x", false, true, "\"`x\""}, PlainCase{"'x", false, false, "'''x'"},
        PlainCase{"\"x", false, false, "'\"x'"}, PlainCase{"[x", false, true, "\"[x\""},
        PlainCase{"--- x", false, true, "\"--- x\""}, PlainCase{"...", false, true, "\"...\""},
        PlainCase{"\xEF\xBB\xBFx", false, false, "\"\\ufeffx\""}, PlainCase{"a\rb", false, false, "\"a\\rb\""},
        PlainCase{"a\x01", false, true, "\"a\\x01\""}, PlainCase{"a\xC2\x85" "b", false, true, "\"a\\Nb\""},
        PlainCase{"a,b", true, true, "\"a,b\""}, PlainCase{"a]", true, false, "'a]'"},
        PlainCase{"{a}", true, true, "\"{a}\""}, PlainCase{"x", true, true, "x"}));

TEST(RoundtripQuotedScalar, SingleQuotedDoublesApostrophesAndFallsBackForBreaks) {
    EXPECT_EQ(emit(mapping(Block, scalar("k"), scalar("it's", ScalarStyle::SingleQuoted))), "k: 'it''s'\n");
    // A line break inside single quotes would be folded by the reader.
    const std::string out = emit(mapping(Block, scalar("k"), scalar("a\nb", ScalarStyle::SingleQuoted)));
    EXPECT_EQ(out, "k: \"a\\nb\"\n");
    EXPECT_TRUE(reads_same(out, "k: \"a\\nb\""));
    EXPECT_EQ(emit(sequence(Block, scalar("q\"\\", ScalarStyle::DoubleQuoted))), "- \"q\\\"\\\\\"\n");
}

// ---- block scalars -----------------------------------------------------------

enum class Where { Root, MapValue, SeqItem, NestedSeqItem, ComplexKey };

struct BlockCase {
    const char* text;
    ScalarStyle style;
    Where where;
};

std::ostream& operator<<(std::ostream& os, const BlockCase& c) {
    std::string shown;
    for (char ch : std::string_view(c.text)) shown += ch == '\n' ? std::string("\\n") : std::string(1, ch);
    return os << (c.style == ScalarStyle::Literal ? "literal" : "folded") << " \"" << shown << "\" at "
              << static_cast<int>(c.where);
}

class RoundtripBlockScalar : public ::testing::TestWithParam<BlockCase> {};

TEST_P(RoundtripBlockScalar, ReadsBackToTheSameText) {
    const BlockCase& c = GetParam();
    YamlNode root;
    switch (c.where) {
        case Where::Root: root = scalar(c.text, c.style); break;
        case Where::MapValue: root = mapping(Block, scalar("k"), scalar(c.text, c.style), scalar("z"), scalar("1")); break;
        case Where::SeqItem: root = sequence(Block, scalar(c.text, c.style), scalar("z")); break;
        case Where::NestedSeqItem:
            root = mapping(Block, scalar("k"), mapping(Block, scalar("j"), sequence(Block, scalar(c.text, c.style))));
            break;
        case Where::ComplexKey: root = mapping(Block, scalar(c.text, c.style), scalar("v")); break;
    }
    const std::string out = emit(root);
    auto doc = decode_stream(out, 0, {});
    ASSERT_TRUE(doc.ok()) << doc.error().message << "\n" << out;
    const Value& v = doc.value().documents.at(0);
    const Value* s = &v;
    switch (c.where) {
        case Where::Root: break;
        case Where::MapValue: s = &v.as_mapping().at(0).value; EXPECT_EQ(v.as_mapping().size(), 2u) << out; break;
        case Where::SeqItem: s = &v.as_sequence().at(0); EXPECT_EQ(v.as_sequence().size(), 2u) << out; break;
        case Where::NestedSeqItem: s = &v.as_mapping().at(0).value.as_mapping().at(0).value.as_sequence().at(0); break;
        case Where::ComplexKey: s = &v.as_mapping().at(0).key; break;
    }
    ASSERT_EQ(s->kind(), Value::Kind::String) << out;
    EXPECT_EQ(s->as_string(), c.text) << out;
}

std::vector<BlockCase> block_cases() {
    const char* texts[] = {"a\nb\n",       "a\nb",         "a",           "",
                           "\n",           "\n\n",         "a\n\n\n",     "\n\na\n",
                           " lead\nx\n",   "  two\n b\n",  "\n  x\n",     "a\n\nb\n",
                           "a\n b\nc\n",   "a \nb\n",      "\tt\nu\n",    "x\n\n\n y\n\nz",
                           "a\rb\n",       "a\x01\n",      ("a\xEF\xBB\xBF" "b\n"), "# not a comment\n"};
    std::vector<BlockCase> out;
    for (const char* t : texts)
        for (ScalarStyle s : {ScalarStyle::Literal, ScalarStyle::Folded})
            for (Where w : {Where::Root, Where::MapValue, Where::SeqItem, Where::NestedSeqItem, Where::ComplexKey})
                out.push_back({t, s, w});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Roundtrip, RoundtripBlockScalar, ::testing::ValuesIn(block_cases()));

TEST(RoundtripBlockScalarForm, HeadersAndFolding) {
    EXPECT_EQ(emit(mapping(Block, scalar("k"), scalar("a\nb\n", ScalarStyle::Folded))), "k: >\n  a\n\n  b\n");
    EXPECT_EQ(emit(mapping(Block, scalar("k"), scalar("a\n\n\n", ScalarStyle::Literal))), "k: |+\n  a\n\n\n");
    EXPECT_EQ(emit(mapping(Block, scalar("k"), scalar("a", ScalarStyle::Literal))), "k: |-\n  a\n");
    EXPECT_EQ(emit(mapping(Block, scalar("k"), scalar(" a\n", ScalarStyle::Literal))), "k: |2\n   a\n");
    EXPECT_EQ(emit(sequence(Block, scalar(" a\n", ScalarStyle::Literal))), "- |4\n     a\n");
    // Lines starting with white space keep their breaks.
    EXPECT_EQ(emit(mapping(Block, scalar("k"), scalar("a\n b\nc\n", ScalarStyle::Folded))), "k: >\n  a\n   b\n  c\n");
    // Texts a block scalar cannot hold.
    EXPECT_EQ(emit(mapping(Block, scalar("k"), scalar("a\r\n", ScalarStyle::Literal))), "k: \"a\\r\\n\"\n");
    // In a flow collection or a simple key there is no block form.
    EXPECT_EQ(emit(sequence(Flow, scalar("a\n", ScalarStyle::Literal))), "[\"a\\n\"]\n");
}

TEST(RoundtripBlockScalarForm, KeepChompingIsNotExtendedByBlankLines) {
    YamlNode next = scalar("b");
    next.comments.blank_before = 2;
    YamlNode root = mapping(Block, scalar("a"), scalar("x\n\n", ScalarStyle::Literal), std::move(next), scalar("1"));
    const std::string out = emit(root);
    EXPECT_TRUE(reads_same(out, "a: \"x\\n\\n\"\nb: 1")) << out;
}

TEST(RoundtripBlockScalarForm, InlineCommentGoesToTheHeader) {
    const std::string out = emit(mapping(Block, scalar("k"), with_inline(scalar("a\n", ScalarStyle::Literal), "c", 2)));
    EXPECT_EQ(out, "k: |  # c\n  a\n");
}

// An unedited block scalar keeps its source text where that still reads the same.
TEST(RoundtripBlockScalarForm, RawTextKeptOnlyWhereItFits) {
    auto raw_scalar = [](std::string_view raw, std::string_view text) {
        YamlNode n = YamlNode::scalar(Text::owned(text), ScalarStyle::Literal);
        n.comments.texts().raw = Text::owned(raw);
        return n;
    };
    YamlNode root = mapping(Block, scalar("k"), raw_scalar("|\n    a\n", "a\n"));
    EXPECT_EQ(emit(root), "k: |\n    a\n");
    // Content at column 2 cannot stand under a key now written at column 2.
    YamlNode nested = mapping(Block, scalar("o"), mapping(Block, scalar("k"), raw_scalar("|\n  a\n", "a\n")));
    EXPECT_EQ(emit(nested), "o:\n  k: |\n    a\n");
    // An explicit indentation counts from a parent column no longer known.
    YamlNode digit = mapping(Block, scalar("k"), raw_scalar("|1\n   a\n", "  a\n"));
    EXPECT_TRUE(reads_same(emit(digit), "k: \"  a\\n\""));
    // A modified one is written afresh.
    YamlNode edited = mapping(Block, scalar("k"), raw_scalar("|\n    a\n", "b\n"));
    edited.value(0).comments.modified = true;
    EXPECT_EQ(emit(edited), "k: |\n  b\n");
    // The comment goes on the header line once.
    YamlNode commented = mapping(Block, scalar("k"), with_inline(raw_scalar("|  # c\n  a\n", "a\n"), "c", 2));
    EXPECT_EQ(emit(commented), "k: |  # c\n  a\n");
}

// ---- nulls -------------------------------------------------------------------

struct NullCase {
    const char* name;
    YamlNode (*build)();
    NullStyle style;
    const char* written;
    const char* reads_as;  // nullptr: same as `written`
};

std::ostream& operator<<(std::ostream& os, const NullCase& c) { return os << c.name; }

class RoundtripNull : public ::testing::TestWithParam<NullCase> {};

TEST_P(RoundtripNull, WrittenForm) {
    const NullCase& c = GetParam();
    const std::string out = emit(c.build(), EmitStyle{c.style, true});
    EXPECT_EQ(out, c.written);
    EXPECT_TRUE(reads_same(out, c.reads_as ? c.reads_as : c.written));
}

YamlNode synthetic_null() {
    YamlNode n = null_node();
    n.synthetic = true;
    return n;
}

INSTANTIATE_TEST_SUITE_P(
    Roundtrip, RoundtripNull,
    ::testing::Values(
        NullCase{"MapValue", [] { return mapping(Block, scalar("k"), null_node()); }, NullStyle::Empty, "k:\n", nullptr},
        NullCase{"MapValueTagged", [] { return mapping(Block, scalar("k"), with_tag(null_node(), "!!str")); },
                 NullStyle::Empty, "k: !!str\n", "k: ''"},
        NullCase{"MapValueAnchored", [] { return mapping(Block, scalar("k"), with_anchor(null_node(), "a")); },
                 NullStyle::Empty, "k: &a null\n", nullptr},
        NullCase{"MapValueTaggedAnchored",
                 [] { return mapping(Block, scalar("k"), with_anchor(with_tag(null_node(), "!!str"), "a")); },
                 NullStyle::Empty, "k: !!str &a\n", "k: ''"},
        NullCase{"SeqItemTagged", [] { return sequence(Block, with_tag(null_node(), "!!str"), scalar("x")); },
                 NullStyle::Empty, "- !!str\n- x\n", "['', x]"},
        NullCase{"SeqItem", [] { return sequence(Block, null_node()); }, NullStyle::Empty, "-\n", nullptr},
        NullCase{"FlowTagged",
                 [] { return sequence(Flow, with_tag(null_node(), "!!str"), scalar("a"), with_anchor(null_node(), "n")); },
                 NullStyle::Empty, "[!!str , a, &n null]\n", "['', a, null]"},
        NullCase{"FlowMapTaggedKeyAndValue",
                 [] { return mapping(Flow, with_tag(null_node(), "!!str"), with_tag(null_node(), "!!str")); },
                 NullStyle::Empty, "{!!str : !!str }\n", "{'': ''}"},
        NullCase{"BlockKeyTagged", [] { return mapping(Block, with_tag(null_node(), "!!str"), scalar("v")); },
                 NullStyle::Empty, "!!str : v\n", "'': v"},
        NullCase{"RootTagged", [] { return with_tag(null_node(), "!!str"); }, NullStyle::Empty, "!!str\n", "''"},
        NullCase{"Root", [] { return null_node(); }, NullStyle::Empty, "null\n", nullptr},
        NullCase{"SyntheticEmpty", [] { return mapping(Block, scalar("k"), synthetic_null()); }, NullStyle::Empty,
                 "k:\n", nullptr},
        NullCase{"SyntheticKeyword", [] { return mapping(Block, scalar("k"), synthetic_null()); },
                 NullStyle::Keyword, "k: null\n", nullptr},
        NullCase{"SyntheticTilde", [] { return sequence(Block, synthetic_null()); }, NullStyle::Tilde, "- ~\n",
                 nullptr},
        NullCase{"SyntheticInFlow", [] { return sequence(Flow, synthetic_null()); }, NullStyle::Empty, "[null]\n",
                 nullptr}));

// ---- properties, keys, aliases -----------------------------------------------

TEST(RoundtripProperties, CollectionItemWithPropertiesStartsOnItsOwnLine) {
    // `- &a k: v` would anchor the key, not the mapping.
    YamlNode m = with_anchor(with_tag(mapping(Block, scalar("k"), scalar("v")), "!!map"), "a");
    YamlNode root = sequence(Block, std::move(m), alias("a"));
    const std::string out = emit(root);
    EXPECT_EQ(out, "- !!map &a\n  k: v\n- *a\n");
    EXPECT_TRUE(reads_same(out, "- {k: v}\n- {k: v}"));

    YamlNode inner = with_anchor(sequence(Block, scalar("x")), "s");
    inner.comments.compact = true;
    EXPECT_EQ(emit(sequence(Block, std::move(inner))), "- &s\n  - x\n");

    YamlNode compact = sequence(Block, scalar("x"), scalar("y"));
    compact.comments.compact = true;
    EXPECT_EQ(emit(sequence(Block, std::move(compact))), "- - x\n  - y\n");
}

TEST(RoundtripProperties, AliasKeysKeepTheirColonApart) {
    YamlNode root = mapping(Block, with_anchor(scalar("k"), "a"), scalar("1"), alias("a"), scalar("2"));
    const std::string out = emit(root);
    EXPECT_EQ(out, "&a k: 1\n*a : 2\n");
    EXPECT_EQ(emit(mapping(Flow, alias("a"), alias("b"))), "{*a : *b}\n");
}

TEST(RoundtripProperties, LongKeyUsesTheExplicitForm) {
    const std::string key(1500, 'k');
    const std::string out = emit(mapping(Block, scalar(key), scalar("v")));
    EXPECT_EQ(out, "? " + key + "\n: v\n");
    auto doc = decode_stream(out, 0, {});
    ASSERT_TRUE(doc.ok());
    EXPECT_EQ(doc.value().documents[0].as_mapping()[0].key.as_string(), key);
}

TEST(RoundtripProperties, BlockCollectionKeyIsExplicit) {
    YamlNode root = mapping(Block, sequence(Block, scalar("a"), scalar("b")), scalar("v"));
    const std::string out = emit(root);
    EXPECT_EQ(out, "?\n  - a\n  - b\n: v\n");
}

TEST(RoundtripProperties, IncludeDirectivesReplaceContent) {
    YamlNode secret = scalar("hunter2");
    secret.source = std::make_unique<IncludeSource>(IncludeSource{"!secret", "db_password", std::nullopt});
    YamlNode root = mapping(Flow, scalar("a"), std::move(secret));
    EXPECT_EQ(emit(root), "{a: !secret db_password}\n");

    YamlNode boundary = mapping(Block, scalar("x"), scalar("1"));
    boundary.source = std::make_unique<IncludeSource>(IncludeSource{"!include", "x.yaml", 1u});
    YamlNode doc = mapping(Block, scalar("inc"), std::move(boundary));
    EXPECT_EQ(emit(doc), "inc: !include x.yaml\n");
    EXPECT_EQ(render_included_file(doc.value(0), true), "x: 1\n");
}

// ---- comments ------------------------------------------------------------------

TEST(RoundtripComments, FlowCommentsMoveToTheEndOfTheLine) {
    YamlNode flow = mapping(Flow, scalar("a"), with_inline(scalar("1"), "c", 2));
    const std::string out = emit(mapping(Block, scalar("k"), std::move(flow), scalar("j"), scalar("2")));
    EXPECT_EQ(out, "k: {a: 1}  # c\nj: 2\n");
}

TEST(RoundtripComments, HeadCommentsOfAValueKeepTheValueBelowThem) {
    const std::string out = emit(mapping(Block, scalar("k"), with_head(scalar("v"), "note")));
    EXPECT_EQ(out, "k:\n  # note\n  v\n");
    EXPECT_TRUE(reads_same(out, "k: v"));
}

TEST(RoundtripComments, LineBreaksInCommentTextsStayComments) {
    YamlNode root = mapping(Block, with_head(scalar("k"), "one\ntwo: 3"), with_inline(scalar("v"), "x\ny: 1"));
    const std::string out = emit(root);
    EXPECT_EQ(out, "# one\n# two: 3\nk: v # x y: 1\n");
    EXPECT_TRUE(reads_same(out, "k: v"));
}

TEST(RoundtripComments, BlankLinesHeadInlineAndFoot) {
    YamlNode b = with_head(scalar("b"), "");
    b.comments.blank_before = 2;
    YamlNode root = with_head(mapping(Block, scalar("a"), with_inline(scalar("1"), "one", 3), std::move(b),
                                      sequence(Block, scalar("x"))),
                              "top");
    root.comments.texts().foot.push_back(Text::owned("end"));
    EXPECT_EQ(emit(root), "# top\na: 1   # one\n\n\n#\nb:\n- x\n# end\n");
}

// ---- documents -----------------------------------------------------------------

DocumentContainer container_of(std::vector<YamlNode> roots, std::string source = "") {
    DocumentContainer c;
    c.documents = std::move(roots);
    if (!source.empty()) {
        c.stores.push_back(std::make_unique<TextStore>());
        c.stores[0]->text = std::move(source);
    }
    return c;
}

template <class... Nodes>
std::vector<YamlNode> roots(Nodes&&... nodes) {
    std::vector<YamlNode> out;
    (out.push_back(std::forward<Nodes>(nodes)), ...);
    return out;
}

YamlNode unmodified(YamlNode n) {
    n.comments.modified = false;
    return n;
}

TEST(RoundtripDocument, UneditedIsTheSourceByteForByte) {
    const std::string source = "%TAG !e! tag:e,2000:\r\n--- { a: 1 }  # c\r\n...\r\n";
    DocumentContainer c = container_of(roots(unmodified(mapping(Flow, unmodified(scalar("a")), unmodified(scalar("1"))))), source);
    EXPECT_EQ(document_to_yaml(c), source);
    c.documents[0].value(0).comments.modified = true;
    EXPECT_EQ(document_to_yaml(c), "{a: 1}\r\n");  // written text keeps the source's line ends
}

TEST(RoundtripDocument, LaterDocumentsGetTheirMarker) {
    YamlNode second = scalar("b");
    DocumentContainer c = container_of(roots(scalar("a"), std::move(second)));
    EXPECT_EQ(document_to_yaml(c), "a\n---\nb\n");
    c.documents[1].explicit_start = true;
    c.documents[0].explicit_start = true;
    c.documents[0].leading_bom = true;
    EXPECT_EQ(document_to_yaml(c), "\xEF\xBB\xBF---\na\n---\nb\n");
}

TEST(RoundtripDocument, DirectiveLinesAreKept) {
    YamlNode first = with_tag(scalar("x"), "!e!t");
    first.comments.texts().directives.push_back(Text::owned("TAG !e! tag:example.com,2000:"));
    YamlNode second = mapping(Block, scalar("k"), scalar("v"));
    second.comments.texts().directives.push_back(Text::owned("YAML 1.1"));
    second.comments.texts().directives.push_back(Text::owned("TAG ! tag:x,1:"));
    DocumentContainer c = container_of(roots(std::move(first), std::move(second)));
    const std::string out = document_to_yaml(c);
    EXPECT_EQ(out, "%TAG !e! tag:example.com,2000:\n---\n!e!t x\n...\n%YAML 1.1\n%TAG ! tag:x,1:\n---\nk: v\n");
    EXPECT_TRUE(decode_stream(out, 0, {}).ok()) << out;
}

TEST(RoundtripDocument, VersionHeaderReplacesTheFirstYamlLine) {
    YamlNode root = mapping(Block, scalar("a"), scalar("true"));
    root.comments.texts().directives.push_back(Text::owned("YAML 1.1"));
    DocumentContainer c = container_of(roots(std::move(root)));
    c.version_header = true;
    EXPECT_EQ(document_to_yaml(c), "%YAML 1.2\n---\na: true\n");

    DocumentContainer plain = container_of(roots(unmodified(scalar("a"))), "%YAML 1.1\na\n");
    plain.version_header = true;
    EXPECT_EQ(document_to_yaml(plain), "%YAML 1.2\n---\na\n");
    DocumentContainer marked = container_of(roots(unmodified(scalar("a"))), "\xEF\xBB\xBF--- a\n");
    marked.version_header = true;
    EXPECT_EQ(document_to_yaml(marked), "\xEF\xBB\xBF%YAML 1.2\n--- a\n");
}

// ---- depth -----------------------------------------------------------------------

constexpr std::size_t kDeep = 100000;

TEST(RoundtripDeep, FlowNestingHundredThousandDeep) {
    YamlNode node = scalar("x");
    for (std::size_t i = 0; i < kDeep; ++i) node = sequence(Flow, std::move(node));
    node.comments.modified = true;
    const std::string out = emit(node);
    EXPECT_EQ(out.size(), 2 * kDeep + 2);
    EXPECT_EQ(out.substr(kDeep - 1, 4), "[x]]");
}

TEST(RoundtripDeep, CompactBlockNestingHundredThousandDeep) {
    YamlNode node = scalar("x");
    for (std::size_t i = 0; i < kDeep; ++i) {
        node = sequence(Block, std::move(node));
        node.comments.compact = true;
    }
    const std::string out = emit(node);
    EXPECT_EQ(out.size(), 2 * kDeep + 2);
    EXPECT_EQ(out.substr(out.size() - 6), "- - x\n");
}

TEST(RoundtripDeep, MixedMappingsAndFlowHundredThousandDeep) {
    YamlNode node = scalar("x");
    for (std::size_t i = 0; i < kDeep; ++i)
        node = i % 2 ? sequence(Flow, std::move(node)) : mapping(Flow, scalar("k"), std::move(node));
    const std::string out = emit(mapping(Block, scalar("top"), std::move(node)));
    EXPECT_TRUE(out.starts_with("top: [{k: [{k: "));
    EXPECT_TRUE(out.ends_with("}]}]\n"));
}

}  // namespace
}  // namespace torvex::rt
