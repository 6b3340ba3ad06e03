// The parser and value decoder: documents, directives, collections,
// anchors and aliases, merge keys, key policies, limits and their errors.
#include <gtest/gtest.h>

#include <string>

#include "decode/decoder.hpp"
#include "decode/key_identity.hpp"

namespace torvex {
namespace {

// A compact rendering of a decoded stream for table-driven expectations.
std::string render(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null: return "~";
        case Value::Kind::Bool: return v.as_bool() ? "true" : "false";
        case Value::Kind::Int: return std::to_string(v.as_int());
        case Value::Kind::BigInt: return "big:" + v.big_int_text();
        case Value::Kind::Float: return "f:" + std::to_string(v.as_float());
        case Value::Kind::String: return "'" + v.as_string() + "'";
        case Value::Kind::Sequence: {
            std::string out = "[";
            for (const auto& item : v.as_sequence()) {
                if (out.size() > 1) out += ',';
                out += render(item);
            }
            return out + "]";
        }
        case Value::Kind::Mapping: {
            std::string out = "{";
            for (const auto& e : v.as_mapping()) {
                if (out.size() > 1) out += ',';
                out += render(e.key);
                out += ':';
                out += render(e.value);
            }
            return out + "}";
        }
        case Value::Kind::Tagged: return v.as_tagged().tag + " " + render(*v.as_tagged().inner);
    }
    return "?";
}

std::string render_stream(const DecodedStream& s) {
    std::string out;
    for (const auto& d : s.documents) out += (out.empty() ? "" : " | ") + render(d);
    return out;
}

struct Case {
    std::string input;
    std::string expected;  // rendered documents, or "error: message @line:column" (1-based)
    DecodeOptions options{};
};

std::string run(const Case& c) {
    auto r = decode_stream(c.input, 0, c.options);
    if (!r.ok()) {
        const auto& e = r.error();
        std::string at = e.span ? " @" + std::to_string(e.span->line + 1) + ":" + std::to_string(e.span->column + 1) : "";
        return "error: " + e.message + at;
    }
    return render_stream(r.value());
}

class Decode : public ::testing::TestWithParam<Case> {};
TEST_P(Decode, Produces) { EXPECT_EQ(run(GetParam()), GetParam().expected) << GetParam().input; }

DecodeOptions with_mode(ResolveMode mode) {
    DecodeOptions o;
    o.mode = mode;
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Documents, Decode,
    ::testing::Values(Case{"", ""}, Case{"# only a comment\n", ""}, Case{"---", "~"}, Case{"--- # c", "~"},
                      Case{"a\n---\nb", "'a' | 'b'"}, Case{"a\n...\n%YAML 1.2\n---\nb", "'a' | 'b'"},
                      Case{"--- a\n--- b\n...\n", "'a' | 'b'"},
                      Case{"%YAML 1.2\n%YAML 1.2\n---\na", "error: duplicate %YAML directive @2:1"},
                      Case{"%YAML 1.2 junk\n---\na", "error: invalid %YAML directive @1:1"},
                      Case{"%YAML 1.2 # c\n---\na", "'a'"}, Case{"%YAML 1.2\n---\na", "'a'"},
                      Case{"%TAG !e! tag:x,2000:\n--- !e!y a", "tag:x,2000:y 'a'"},
                      Case{"--- !e!y a", "error: undefined tag handle: !e! @1:5"},
                      Case{"%TAG !e! a:\n%TAG !e! b:\n--- x", "error: duplicate %TAG directive for handle '!e!' @2:1"},
                      Case{"%TAG !e! a:\n--- !e!x 1\n---\n!e!x 2", "error: undefined tag handle: !e! @4:1"},
                      Case{"%TAG ! tag:p:\n--- !x 1", "tag:p:x '1'"},
                      // written with the `!!` handle, so a core tag: it leaves no wrapper
                      Case{"%TAG !! tag:p:\n--- !!x 1", "'1'"}));

INSTANTIATE_TEST_SUITE_P(
    Nodes, Decode,
    ::testing::Values(
        Case{"&a &b x", "error: a node cannot have two anchors @1:4"}, Case{"!!str !!int 1", "1"},
        Case{"- \n- a", "[~,'a']"}, Case{"[a: 1]", "[{'a':1}]"}, Case{"{a, b: 1}", "{'a':~,'b':1}"},
        Case{": b", "{~:'b'}"}, Case{"[a, b, ]", "['a','b']"}, Case{"[? a : 1, b]", "[{'a':1},'b']"},
        Case{"!!str", "''"}, Case{"!!int", "0"}, Case{"!!null", "~"}, Case{"!t", "!t ''"},
        Case{"!custom 12", "!custom '12'"}, Case{"!!str 12", "'12'"}, Case{"! 12", "! '12'"},
        Case{"!<tag:yaml.org,2002:int> 12", "12"}, Case{"!t {a: 1}", "!t {'a':1}"}, Case{"!!map {a: 1}", "{'a':1}"},
        Case{"a:\n- 1\n- 2\nb: 3", "{'a':[1,2],'b':3}"}, Case{"a:\n-\n- 2\n", "{'a':[~,2]}"},
        Case{"? - a\n: 1", "{['a']:1}"}, Case{"? {a: 1}\n: x", "{{'a':1}:'x'}"},
        Case{"'<<': 1", "{'<<':1}"}, Case{"a: yes", "{'a':'yes'}"},
        Case{"a: yes", "{'a':true}", with_mode(ResolveMode::Yaml11)},
        Case{"[y, n]", "[true,false]", with_mode(ResolveMode::Yaml11)},
        Case{"[y, n]", "['y','n']", with_mode(ResolveMode::PyYamlCompat)}));

INSTANTIATE_TEST_SUITE_P(
    AnchorsAndMerges, Decode,
    ::testing::Values(
        Case{"a: &x 1\nb: *x", "{'a':1,'b':1}"}, Case{"a: 1\nb: *y", "error: unknown alias: *y @2:4"},
        Case{"&a [*a]", "error: unknown alias: *a @1:5"}, Case{"&a !t x", "!t 'x'"},
        Case{"- &a\n- *a", "[~,~]"}, Case{"- &a 1\n- &a 2\n- *a", "[1,2,2]"},
        Case{"base: &b {x: 1, y: 2}\nd:\n  <<: *b\n  y: 3", "{'base':{'x':1,'y':2},'d':{'y':3,'x':1}}"},
        Case{"a: &a {k: a, a: 1}\nb: &b {k: b, b: 1}\nc:\n  <<: [*a, *b]", "{'a':{'k':'a','a':1},'b':{'k':'b','b':1},'c':{'k':'a','a':1,'b':1}}"},
        Case{"<<: 5\na: 1", "{'a':1,'<<':5}"}, Case{"<<: ~\na: 1", "{'a':1}"},
        Case{"<<: [{a: 1}, 2]\nb: 1", "{'b':1,'a':1,'<<':[2]}"}, Case{"- <<", "['<<']"},
        Case{"a: <<", "{'a':'<<'}"}, Case{"--- &x a\n--- *x", "error: unknown alias: *x @2:5"}));

// Decoded nodes sit in one flat run in source order, so an alias copies a
// run, a tag is written ahead of its collection, and a flow pair's mapping is
// slipped in ahead of a key already read: the shapes below exercise each.
INSTANTIATE_TEST_SUITE_P(
    FlatLayout, Decode,
    ::testing::Values(
        Case{"a: &x {k: [1, {z: !t [2]}]}\nb: *x\nc: *x", "{'a':{'k':[1,{'z':!t [2]}]},'b':{'k':[1,{'z':!t [2]}]},"
                                                         "'c':{'k':[1,{'z':!t [2]}]}}"},
        Case{"[&a x: *a, *a]", "[{'x':'x'},'x']"}, Case{"[&a [p, q]: 1, *a]", "[{['p','q']:1},['p','q']]"},
        Case{"[a: &b 1, *b, c: *b]", "[{'a':1},1,{'c':1}]"}, Case{"[? , x:]", "[{~:~},{'x':~}]"},
        Case{"[!t {a: 1}: 2, ? !u k : v]", "[{!t {'a':1}:2},{!u 'k':'v'}]"},
        Case{"- &s !t [1, 2]\n- *s\n- [*s]", "[!t [1,2],!t [1,2],[!t [1,2]]]"},
        Case{"!e!t {a: *nope}", "error: unknown alias: *nope @1:10"},
        Case{"!e!t [a, b]", "error: undefined tag handle: !e! @1:6"},
        Case{"--- !t\n--- !t []\n--- !t {}", "!t '' | !t [] | !t {}"}));

DecodeOptions duplicates(bool error, bool warn) {
    DecodeOptions o;
    o.duplicate_keys_error = error;
    o.duplicate_keys_warn = warn;
    return o;
}

DecodeOptions complex_rejected() {
    DecodeOptions o;
    o.reject_complex_keys = true;
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    KeyPolicies, Decode,
    ::testing::Values(Case{"a: 1\na: 2", "{'a':1,'a':2}"},
                      Case{"a: 1\na: 2", "error: duplicate mapping key: a @2:1", duplicates(true, false)},
                      Case{"a: 1\na: 2", "error: duplicate mapping key: a @2:1", duplicates(true, true)},
                      Case{"1: x\n1: y", "error: duplicate mapping key: Int(1) @2:1", duplicates(true, false)},
                      Case{"1: x\n1.0: y", "{1:'x',f:1.000000:'y'}", duplicates(true, false)},
                      Case{"? [a]\n: 1\n? [a]\n: 2", "error: duplicate mapping key: Sequence([String(\"a\")]) @3:3",
                           duplicates(true, false)},
                      Case{"<<: {a: 1}\n<<: {b: 2}", "{'a':1,'b':2}", duplicates(true, false)},
                      Case{"? [a]\n: 1", "error: complex mapping key (a sequence used as a key) @1:3",
                           complex_rejected()},
                      Case{"? {a: 1}\n: 1", "error: complex mapping key (a mapping used as a key) @1:3",
                           complex_rejected()},
                      Case{"[[a]: 1]", "error: complex mapping key (a sequence used as a key) @1:2",
                           complex_rejected()},
                      Case{"? !t [a]\n: 1", "{!t ['a']:1}", complex_rejected()}));

INSTANTIATE_TEST_SUITE_P(
    StructureErrors, Decode,
    ::testing::Values(Case{"a: 1\n? - x\n: 2", "{'a':1,['x']:2}"},
                      Case{"a: 1\n- b", "error: a block collection cannot be a mapping key @2:1"},
                      Case{"x:\n  - a\n  b: 1", "error: a block collection cannot be a mapping key @3:3"},
                      Case{"a: b: c", "error: a plain value cannot contain ': ' on its key's line; quote the value @1:5"},
                      Case{"a: 1\n \xC3\xA9 b: 2", "error: a mapping key is indented more than its siblings @2:2"},
                      Case{"a: 1\r\n \tb: 2", "error: a tab cannot be used for indentation @2:3"},
                      Case{"a:\n  b: 1\n c: 2", "error: a mapping key is indented less than its siblings @3:2"},
                      Case{"a:\n  - 1\n - 2", "error: a sequence entry is indented less than its siblings @3:2"},
                      Case{"- 'a'\n  'b'", "error: a block sequence entry must start with '- ' @2:3"},
                      Case{"- - a\n  - b\n - c", "error: a sequence entry is indented past its sequence @3:2"},
                      Case{"---\n- a\n...\n- b: 1\n  c: 2", "['a'] | [{'b':1,'c':2}]"},
                      Case{"a: 1\nb\n", "error: expected ':' after mapping key @2:1"},
                      Case{"[a]\nb", "error: trailing content after document @2:1"},
                      Case{"--- a\n...\n%YAML 1.1\n---\n- yes\n", "'a' | ['yes']"},
                      Case{"- &a\n- *a\nk:\n- &b\n- *b", "error: trailing content after document @3:1"},
                      Case{"k:\n- &b\n- *b", "{'k':[~,~]}"},
                      Case{"?\n- a\n:\n- c", "{['a']:['c']}"},
                      Case{"- &c : &a\n- ? &d", "[{~:~},{~:~}]"},
                      Case{"{foo : !!str, !!str : bar}", "{'foo':'','':'bar'}"},
                      Case{"key:\nvalue", "error: expected ':' after mapping key @2:1"},
                      Case{"a:\n  b:\n  c\n", "error: expected ':' after mapping key @3:3"},
                      Case{"key:\n&a value", "error: a node property must be indented past its mapping key @2:1"},
                      Case{"key:\n value", "{'key':'value'}"},
                      Case{"key:\n- a\n", "{'key':['a']}"},
                      Case{"? a\n: b\n", "{'a':'b'}"},
                      Case{"a:\n# comment\nb: 1", "{'a':~,'b':1}"}));

TEST(DecoderWarnings, DuplicateKeyWarningKeepsBothEntries) {
    auto r = decode_stream("a: 1\na: 2", 0, duplicates(false, true));
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.value().warnings.size(), 1u);
    EXPECT_EQ(r.value().warnings[0], "duplicate mapping key 'a' at line 2, column 1; keeping the last value");
    EXPECT_EQ(render_stream(r.value()), "{'a':1,'a':2}");
}

TEST(DecoderWarnings, Yaml11DifferencesAreReportedInOrder) {
    DecodeOptions o;
    o.mode = ResolveMode::Yaml11;
    o.yaml11_warnings = true;
    auto r = decode_stream("a: yes\nb: 0o17\nc: 0x1F\nd: 012\n", 0, o);
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.value().warnings.size(), 2u);
    EXPECT_EQ(r.value().warnings[0], "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4");
    EXPECT_EQ(r.value().warnings[1], "YAML 1.1 syntax '012' resolves as int in 1.1 but str in 1.2 at line 4, column 4");
}

std::string nested_flow(std::size_t depth) { return std::string(depth, '[') + "x" + std::string(depth, ']'); }

TEST(DecoderLimits, NestingDepthCountsTheScalar) {
    EXPECT_EQ(run({nested_flow(999), ""}).substr(0, 6), "[[[[[[");
    EXPECT_EQ(run({nested_flow(1000), ""}), "error: maximum nesting depth (1000) exceeded @1:1001");
}

TEST(DecoderLimits, BlockNestingBeyondTheLimitFails) {
    std::string text;
    for (int i = 0; i < 1001; ++i) text += std::string(static_cast<std::size_t>(i), ' ') + "-\n";
    EXPECT_NE(run({text, ""}).find("maximum nesting depth (1000) exceeded"), std::string::npos);
}

TEST(DecoderLimits, AliasBombIsRefused) {
    std::string text = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
    char prev = 'a';
    for (char name = 'b'; name <= 'i'; ++name) {
        text += std::string(1, name) + ": &" + name + " [";
        for (int i = 0; i < 10; ++i) text += std::string(i ? ", " : "") + "*" + prev;
        text += "]\n";
        prev = name;
    }
    auto result = run({text, ""});
    EXPECT_EQ(result.substr(0, result.find(" @")), "error: document expands to too many nodes (possible alias bomb)");
}

TEST(DecoderLimits, ExpansionBelowTheLimitIsAllowed) {
    std::string text = "a: &a [x, x, x, x, x, x, x, x, x, x]\nb: &b [*a, *a, *a, *a, *a, *a, *a, *a, *a, *a]\nc: [*b, *b]\n";
    auto r = decode_stream(text, 0, {});
    ASSERT_TRUE(r.ok());
    // root + (key + 11) + (key + 1 + 10 * 11) + (key + 1 + 2 * 111)
    EXPECT_EQ(r.value().documents[0].node_count(), 1u + 12 + 112 + 224);
}

}  // namespace
}  // namespace torvex
