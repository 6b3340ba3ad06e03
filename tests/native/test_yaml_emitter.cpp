// Layout of the YAML emitter: value tree + options -> exact text.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "encode/yaml_emitter.hpp"
#include "value_builders.hpp"

namespace torvex {
namespace {


template <class F>
DumpOptions with(F f) {
    DumpOptions o;
    f(o);
    return o;
}
const DumpOptions kDefault{};

struct YamlCase {
    const char* name;
    Value value;
    DumpOptions options;
    std::string expected;
};

void run_table(const std::vector<YamlCase>& cases) {
    for (const YamlCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(emit_yaml(c.value, c.options), c.expected);
    }
}

TEST(YamlEmitterLayout, NullStyles) {
    const auto keyword = with([](DumpOptions& o) { o.null_style = NullStyle::Keyword; });
    const auto tilde = with([](DumpOptions& o) { o.null_style = NullStyle::Tilde; });
    run_table({
        {"empty value", M({{S("a"), N()}}), kDefault, "a:\n"},
        {"keyword value", M({{S("a"), N()}}), keyword, "a: null\n"},
        {"tilde value", M({{S("a"), N()}}), tilde, "a: ~\n"},
        {"empty item", L({N(), I(1)}), kDefault, "-\n- 1\n"},
        {"keyword item", L({N()}), keyword, "- null\n"},
        {"root empty style", N(), kDefault, "null\n"},
        {"root tilde", N(), tilde, "~\n"},
        {"null key", M({{N(), I(1)}}), kDefault, "null: 1\n"},
        {"null key tilde", M({{N(), N()}}), tilde, "~: ~\n"},
        {"null in flow", M({{L({N()}), N()}}), kDefault, "[null]:\n"},
        {"null in flow style", L({N()}), with([](DumpOptions& o) { o.flow_style = true; }), "[null]\n"},
    });
}

TEST(YamlEmitterLayout, BlockCollections) {
    const auto indentless = with([](DumpOptions& o) { o.indentless_sequences = true; });
    const auto indent4 = with([](DumpOptions& o) { o.indent = 4; });
    run_table({
        {"sequence under key", M({{S("a"), L({I(1), I(2)})}}), kDefault, "a:\n  - 1\n  - 2\n"},
        {"indentless", M({{S("a"), L({I(1), I(2)})}, {S("b"), I(3)}}), indentless, "a:\n- 1\n- 2\nb: 3\n"},
        {"indent 4", M({{S("a"), L({I(1), I(2)})}}), indent4, "a:\n    - 1\n    - 2\n"},
        {"nested sequence", L({L({I(1), I(2)})}), kDefault, "-\n  - 1\n  - 2\n"},
        {"nested sequence indent 4", L({L({I(1)})}), indent4, "-\n  - 1\n"},
        {"mapping in sequence", L({M({{S("a"), I(1)}, {S("b"), I(2)}})}), kDefault, "- a: 1\n  b: 2\n"},
        {"nested mapping", M({{S("a"), M({{S("b"), I(1)}})}}), kDefault, "a:\n  b: 1\n"},
        {"nested mapping indent 4", M({{S("a"), M({{S("b"), I(1)}})}}), indent4, "a:\n    b: 1\n"},
        {"mapping in sequence, mapping value, indent 4", L({M({{S("a"), M({{S("b"), I(1)}})}})}), indent4,
         "- a:\n      b: 1\n"},
        {"indentless under sequence item mapping", L({M({{S("a"), L({I(1)})}, {S("b"), I(2)}})}), indentless,
         "- a:\n  - 1\n  b: 2\n"},
        {"empty collections stay flow", M({{S("a"), L({})}, {S("b"), M({})}}), kDefault, "a: []\nb: {}\n"},
        {"empty root mapping", M({}), kDefault, "{}\n"},
        {"empty root sequence", L({}), kDefault, "[]\n"},
        {"collection keys are flow", M({{L({I(1), I(2)}), S("x")}, {M({{S("a"), I(1)}}), S("y")}}), kDefault,
         "[1, 2]: x\n{a: 1}: \"y\"\n"},
        {"scalars", L({B(true), B(false), I(-7), I(0), F(1.5), Value::big_int("-123456789012345678901234567890")}),
         kDefault, "- true\n- false\n- -7\n- 0\n- 1.5\n- -123456789012345678901234567890\n"},
        {"int extremes", L({I(std::numeric_limits<std::int64_t>::min()), I(std::numeric_limits<std::int64_t>::max())}),
         kDefault, "- -9223372036854775808\n- 9223372036854775807\n"},
    });
}

TEST(YamlEmitterLayout, FlowStyle) {
    const auto flow = with([](DumpOptions& o) { o.flow_style = true; });
    run_table({
        {"nested", M({{S("a"), L({I(1), M({{S("b"), I(2)}})})}}), flow, "{a: [1, {b: 2}]}\n"},
        {"empty", M({{S("a"), L({})}, {S("b"), M({})}}), flow, "{a: [], b: {}}\n"},
        {"flow indicators are quoted inside flow", L({S("a,b"), S("c]"), S("{d"), S("e}")}), flow,
         "[\"a,b\", \"c]\", \"{d\", \"e}\"]\n"},
        {"flow indicators stay plain in block", L({S("a,b"), S("c]")}), kDefault, "- a,b\n- c]\n"},
        {"null empty style in flow", M({{S("a"), N()}}), flow, "{a: null}\n"},
        {"tagged in flow", L({T("!t", I(1)), T("!u", L({S("x")}))}), flow, "[!t 1, !u [x]]\n"},
    });
}

TEST(YamlEmitterLayout, Tags) {
    const auto indentless = with([](DumpOptions& o) { o.indentless_sequences = true; });
    run_table({
        {"root scalar", T("!t", S("x")), kDefault, "!t x\n"},
        {"root mapping", T("!t", M({{S("a"), I(1)}})), kDefault, "!t\n  a: 1\n"},
        {"root sequence", T("!t", L({I(1)})), kDefault, "!t\n  - 1\n"},
        {"value mapping", M({{S("k"), T("!t", M({{S("a"), I(1)}}))}}), kDefault, "k: !t\n  a: 1\n"},
        {"value sequence ignores indentless", M({{S("k"), T("!t", L({I(1)}))}}), indentless, "k: !t\n  - 1\n"},
        {"value empty null", M({{S("k"), T("!t", N())}}), kDefault, "k: !t\n"},
        {"value literal", M({{S("k"), T("!t", S("a\nb"))}}), kDefault, "k: !t |-\n  a\n  b\n"},
        {"item scalar", L({T("!t", I(1))}), kDefault, "- !t 1\n"},
        {"item mapping", L({T("!t", M({{S("a"), I(1)}}))}), kDefault, "- !t\n  a: 1\n"},
        {"item sequence", L({T("!t", L({I(1), I(2)}))}), kDefault, "- !t\n  - 1\n  - 2\n"},
        // Indentless would make the tagged sequence's items siblings of the tag's own item.
        {"item sequence, indentless", L({T("!t", L({I(1), I(2)}))}), indentless, "- !t\n  - 1\n  - 2\n"},
        {"tagged key", M({{T("!k", S("a")), I(1)}}), kDefault, "!k a: 1\n"},
        {"uri tag is verbatim", T("tag:example.com,2000:x", I(5)), kDefault, "!<tag:example.com,2000:x> 5\n"},
        {"uri tag in flow", M({{L({T("tag:x,2000:y", S("v"))}), I(1)}}), kDefault, "[!<tag:x,2000:y> v]: 1\n"},
    });
}

TEST(YamlEmitterLayout, LiteralBlockScalars) {
    const auto indent4 = with([](DumpOptions& o) { o.indent = 4; });
    run_table({
        {"clip", M({{S("key"), S("line1\nline2\n")}}), kDefault, "key: |\n  line1\n  line2\n"},
        {"strip", M({{S("key"), S("line1\nline2")}}), kDefault, "key: |-\n  line1\n  line2\n"},
        {"keep", M({{S("key"), S("line1\nline2\n\n")}, {S("b"), I(1)}}), kDefault,
         "key: |+\n  line1\n  line2\n\nb: 1\n"},
        {"indent 4", M({{S("key"), S("a\nb")}}), indent4, "key: |-\n    a\n    b\n"},
        {"root", S("a\nb\n"), kDefault, "|\n  a\n  b\n"},
        {"root indent 4", S("a\nb"), indent4, "|-\n    a\n    b\n"},
        {"item", L({S("a\nb")}), indent4, "- |-\n  a\n  b\n"},
        {"item mapping value", L({M({{S("k"), S("a\nb")}})}), kDefault, "- k: |-\n    a\n    b\n"},
        {"only line feed", M({{S("k"), S("\n")}}), kDefault, "k: |+\n\n"},
        {"only line feeds", M({{S("k"), S("\n\n\n")}}), kDefault, "k: |+\n\n\n\n"},
        {"inner empty lines are bare", S("a\n\nb"), kDefault, "|-\n  a\n\n  b\n"},
        {"leading empty line", S("\na"), kDefault, "|-\n\n  a\n"},
        {"later lines may be indented", S("a\n  b\n\tc"), kDefault, "|-\n  a\n    b\n  \tc\n"},
        {"lines of spaces keep them", S("a\n   \nb"), kDefault, "|-\n  a\n     \n  b\n"},
        {"document markers stay indented", S("---\n...\n"), kDefault, "|\n  ---\n  ...\n"},
        {"first line indented: quoted", S("  indented\nx"), kDefault, "\"  indented\\nx\"\n"},
        {"first line a tab: quoted", S("\tx\ny"), kDefault, "\"\\tx\\ny\"\n"},
        {"first content line of spaces: quoted", S("\n  \na"), kDefault, "\"\\n  \\na\"\n"},
        {"carriage return: quoted", S("a\r\nb"), kDefault, "\"a\\r\\nb\"\n"},
        {"control: quoted", S("a\nb\x01"), kDefault, "\"a\\nb\\x01\"\n"},
        {"key never literal", M({{S("a\nb"), I(1)}}), kDefault, "\"a\\nb\": 1\n"},
        {"flow never literal", L({S("a\nb")}), with([](DumpOptions& o) { o.flow_style = true; }), "[\"a\\nb\"]\n"},
    });
}

TEST(YamlEmitterLayout, SortKeys) {
    const auto sorted = with([](DumpOptions& o) { o.sort_keys = true; });
    run_table({
        {"non-strings first in mapping order", M({{S("b"), I(1)}, {I(2), I(0)}, {S("a"), I(1)}, {N(), I(3)}}), sorted,
         "2: 0\nnull: 3\na: 1\nb: 1\n"},
        {"bytewise", M({{S("a"), I(1)}, {S("B"), I(2)}, {S("ab"), I(3)}, {S("é"), I(4)}, {S("z"), I(5)}}), sorted,
         "B: 2\na: 1\nab: 3\nz: 5\né: 4\n"},
        {"empty string key first", M({{S("a"), I(1)}, {S(""), I(2)}}), sorted, "\"\": 2\na: 1\n"},
        {"flow mapping", M({{S("k"), L({M({{S("b"), I(1)}, {S("a"), I(2)}})})}}), sorted, "k:\n  - a: 2\n    b: 1\n"},
        {"flow style", M({{S("b"), I(1)}, {S("a"), M({{S("d"), I(1)}, {S("c"), I(2)}})}}),
         with([](DumpOptions& o) {
             o.sort_keys = true;
             o.flow_style = true;
         }),
         "{a: {c: 2, d: 1}, b: 1}\n"},
        {"unsorted keeps order", M({{S("b"), I(1)}, {S("a"), I(2)}}), kDefault, "b: 1\na: 2\n"},
    });
}

TEST(YamlEmitterLayout, SortIsStableForManyEntries) {
    // Above 20 entries a different sort runs; equal texts keep mapping order.
    Mapping m;
    for (int i = 0; i < 30; ++i) m.push_back({I(30 - i), I(i)});
    for (int i = 0; i < 30; ++i) m.push_back({S(std::string(1, static_cast<char>('z' - i % 26))), I(i)});
    const std::string out = emit_yaml(Value::mapping(m), with([](DumpOptions& o) { o.sort_keys = true; }));
    std::string expected;
    for (int i = 0; i < 30; ++i) expected += std::to_string(30 - i) + ": " + std::to_string(i) + "\n";
    std::vector<std::pair<char, int>> strings;
    for (int i = 0; i < 30; ++i) strings.push_back({static_cast<char>('z' - i % 26), i});
    std::stable_sort(strings.begin(), strings.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (auto& [c, i] : strings) {
        const std::string key(1, c);
        // y and n are quoted (booleans under YAML 1.1)
        expected += (c == 'y' || c == 'n' ? "\"" + key + "\"" : key) + ": " + std::to_string(i) + "\n";
    }
    EXPECT_EQ(out, expected);
}

TEST(YamlEmitterLayout, ExplicitMarkers) {
    const auto both = with([](DumpOptions& o) {
        o.explicit_start = true;
        o.explicit_end = true;
    });
    run_table({
        {"scalar", S("x"), both, "---\nx\n...\n"},
        {"mapping", M({{S("a"), I(1)}}), both, "---\na: 1\n...\n"},
        {"start only", L({I(1)}), with([](DumpOptions& o) { o.explicit_start = true; }), "---\n- 1\n"},
        {"end only", N(), with([](DumpOptions& o) { o.explicit_end = true; }), "null\n...\n"},
        {"keep literal then end", S("a\n\n"), both, "---\n|+\n  a\n\n...\n"},
    });
}

TEST(YamlEmitterLayout, Floats) {
    run_table({
        {"1e16", F(1e16), kDefault, "1.0e+16\n"},
        {"nan", F(std::nan("")), kDefault, ".nan\n"},
        {"-inf", F(-INFINITY), kDefault, "-.inf\n"},
        {"-0.0", F(-0.0), kDefault, "-0.0\n"},
        {"float key", M({{F(1.5), I(1)}}), kDefault, "1.5: 1\n"},
    });
}

TEST(YamlEmitterLayout, BigIntTextIsNormalised) {
    run_table({
        {"underscores", Value::big_int("1_000_000_000_000_000_000_000"), kDefault, "1000000000000000000000\n"},
        {"plus sign", Value::big_int("+99999999999999999999"), kDefault, "99999999999999999999\n"},
        {"negative", Value::big_int("-99999999999999999999"), kDefault, "-99999999999999999999\n"},
    });
}

TEST(YamlEmitterWidth, FoldsQuotedStrings) {
    const auto w40 = with([](DumpOptions& o) { o.width = 40; });
    const std::string sentence = "The quick brown fox jumps over the lazy dog and keeps on running far away";
    run_table({
        {"mapping value", M({{S("key"), S(sentence)}}), w40,
         "key: \"The quick brown fox jumps over the\n     lazy dog and keeps on running far\n     away\"\n"},
        {"sequence item", L({S(sentence)}), w40,
         "- \"The quick brown fox jumps over the\n  lazy dog and keeps on running far away\"\n"},
        {"fits: plain", M({{S("k"), S("short words here")}}), w40, "k: short words here\n"},
        {"no space: plain beyond width", M({{S("k"), S(std::string(100, 'x'))}}), w40,
         "k: " + std::string(100, 'x') + "\n"},
        {"long word never split", S("aa " + std::string(50, 'b') + " cc"), w40,
         "\"aa\n  " + std::string(50, 'b') + "\n  cc\"\n"},
        {"double spaces are not fold points", M({{S("k"), S("aaaaaaaaaa  bbbbbbbbbb  cccccccccc  dddddddddd")}}), w40,
         "k: aaaaaaaaaa  bbbbbbbbbb  cccccccccc  dddddddddd\n"},
        {"single quotes fold too", M({{S("k"), S("aaaa bbbb cccc dddd eeee ffff")}}),
         with([](DumpOptions& o) {
             o.width = 15;
             o.double_quotes = false;
         }),
         "k: 'aaaa bbbb\n   cccc dddd\n   eeee ffff'\n"},
        {"escapes count in width", M({{S("k"), S("a\tb c\td e\tf")}}), with([](DumpOptions& o) { o.width = 10; }),
         "k: \"a\\tb\n   c\\td\n   e\\tf\"\n"},
        {"key is never folded", M({{S("aaaa bbbb cccc dddd: eeee"), I(1)}}), with([](DumpOptions& o) { o.width = 10; }),
         "\"aaaa bbbb cccc dddd: eeee\": 1\n"},
        {"plain key beyond width stays plain", M({{S("aaaa bbbb cccc dddd"), I(1)}}),
         with([](DumpOptions& o) { o.width = 10; }), "aaaa bbbb cccc dddd: 1\n"},
        {"width 0 never folds", M({{S("k"), S(sentence)}}), kDefault, "k: " + sentence + "\n"},
    });
}

TEST(YamlEmitterWidth, RootFoldNeverReachesColumnZero) {
    // Continuation lines of a root string are indented: at column 0 a line
    // starting with "..." or "---" would be a document marker.
    run_table({
        {"plain words", S("aaaa bbbb cccc dddd eeee ffff"), with([](DumpOptions& o) { o.width = 20; }),
         "\"aaaa bbbb cccc dddd\n  eeee ffff\"\n"},
        {"marker-like words", S("aaaa ... bbbb --- cc"), with([](DumpOptions& o) { o.width = 5; }),
         "\"aaaa\n  ...\n  bbbb\n  ---\n  cc\"\n"},
        {"indent 4", S("aaaa ... bbbb"), with([](DumpOptions& o) {
             o.width = 5;
             o.indent = 4;
         }),
         "\"aaaa\n    ...\n    bbbb\"\n"},
    });
}

TEST(YamlEmitterWidth, WrapsFlowCollectionsAfterCommas) {
    const auto flow20 = with([](DumpOptions& o) {
        o.flow_style = true;
        o.width = 20;
    });
    run_table({
        {"mapping with list", M({{S("k"), L({I(100000), I(200000), I(300000), I(400000)})}}), flow20,
         "{k: [100000, 200000,\n  300000, 400000]}\n"},
        {"nested opening on a continuation line", L({I(1000000000), I(1000000000), L({I(1111111), I(2222222), I(3333333)})}),
         flow20, "[1000000000, 1000000000,\n  [1111111, 2222222,\n    3333333]]\n"},
        {"value under key", M({{S("key"), L({S("aaaaaaaa"), S("bbbbbbbb"), S("cccccccc")})}}),
         flow20, "{key: [aaaaaaaa, bbbbbbbb,\n  cccccccc]}\n"},
        {"keys never wrap", M({{L({I(1111111111), I(2222222222), I(3333333333)}), I(1)}}),
         with([](DumpOptions& o) { o.width = 10; }), "[1111111111, 2222222222, 3333333333]: 1\n"},
        {"flow mapping keys never fold", M({{S("aaa bbb ccc ddd eee fff"), I(1)}, {S("b"), S("x")}}),
         with([](DumpOptions& o) {
             o.flow_style = true;
             o.width = 10;
         }),
         "{aaa bbb ccc ddd eee fff: 1,\n  b: x}\n"},
    });
}

TEST(YamlEmitterKeys, LongKeysUseTheExplicitForm) {
    // A reader takes at most 1024 characters as an implicit key.
    const std::string k1024(1024, 'k');
    const std::string k1025(1025, 'k');
    const auto indentless = with([](DumpOptions& o) { o.indentless_sequences = true; });
    run_table({
        {"1024 stays implicit", M({{S(k1024), I(1)}}), kDefault, k1024 + ": 1\n"},
        {"1025 becomes explicit", M({{S(k1025), I(1)}}), kDefault, "? " + k1025 + "\n: 1\n"},
        {"quoted key counts its quotes", M({{S(std::string(1023, 'k') + " "), I(1)}}), kDefault,
         "? \"" + std::string(1023, 'k') + " \"\n: 1\n"},
        {"in a sequence item", L({M({{S("a"), I(1)}, {S(k1025), M({{S("b"), I(2)}})}})}), kDefault,
         "- a: 1\n  ? " + k1025 + "\n  :\n    b: 2\n"},
        {"first key of an item", L({M({{S(k1025), N()}})}), kDefault, "- ? " + k1025 + "\n  :\n"},
        {"explicit value sequence is indented", M({{S(k1025), L({I(1)})}}), indentless,
         "? " + k1025 + "\n:\n  - 1\n"},
        {"flow mapping", M({{S(k1025), I(1)}}), with([](DumpOptions& o) { o.flow_style = true; }),
         "{? " + k1025 + ": 1}\n"},
    });
}

TEST(YamlEmitterBuffer, AppendsToCallersBuffer) {
    OutBuffer out;
    out.append("prefix\n");
    emit_yaml_into(out, M({{S("a"), I(1)}}), kDefault);
    EXPECT_EQ(out.view(), "prefix\na: 1\n");
    // Large output grows the buffer past its initial size.
    Sequence items;
    for (int i = 0; i < 5000; ++i) items.push_back(S("item number " + std::to_string(i)));
    const std::string big = emit_yaml(Value::sequence(items), kDefault);
    EXPECT_EQ(big.substr(0, 18), "- item number 0\n- ");
    EXPECT_EQ(big.substr(big.size() - 19), "- item number 4999\n");
}

TEST(YamlEmitterDepth, DeepTreesDoNotOverflowTheStack) {
    const std::size_t depth = 200000;
    Value v = I(1);
    for (std::size_t i = 0; i < depth; ++i) {
        Sequence items;
        items.push_back(std::move(v));
        v = Value::sequence(std::move(items));
    }
    const std::string flow = emit_yaml(v, with([](DumpOptions& o) { o.flow_style = true; }));
    EXPECT_EQ(flow, std::string(depth, '[') + "1" + std::string(depth, ']') + "\n");

    Value m = I(1);
    for (std::size_t i = 0; i < 3000; ++i) {
        Mapping entries;
        entries.push_back({S("k"), std::move(m)});
        m = Value::mapping(std::move(entries));
    }
    const std::string block = emit_yaml(m, kDefault);
    EXPECT_EQ(block.substr(0, 10), "k:\n  k:\n  ");
    EXPECT_NE(block.find(std::string(2 * 2999, ' ') + "k: 1\n"), std::string::npos);
}

}  // namespace
}  // namespace torvex
