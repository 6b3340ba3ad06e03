#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/utf8.hpp"
#include "encode/json_emitter.hpp"
#include "encode/json_string.hpp"
#include "value_builders.hpp"

namespace torvex {
namespace {


std::string json(const Value& v, unsigned indent = 0, bool sort = false) {
    Result<std::string> r = emit_json(v, indent, sort);
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message);
    return r.ok() ? r.value() : std::string();
}

struct JsonCase {
    const char* name;
    Value value;
    unsigned indent;
    bool sort;
    std::string expected;
};

TEST(JsonEmitter, Table) {
    const Value nested = M({{S("a"), L({I(1), I(2)})}});
    const std::vector<JsonCase> cases = {
        {"compact", nested, 0, false, "{\"a\":[1,2]}"},
        {"indent 2", nested, 2, false, "{\n  \"a\": [\n    1,\n    2\n  ]\n}"},
        {"indent 4", nested, 4, false, "{\n    \"a\": [\n        1,\n        2\n    ]\n}"},
        {"empty object", M({}), 2, false, "{}"},
        {"empty array", L({}), 4, false, "[]"},
        {"empty inside indented", M({{S("a"), L({})}, {S("b"), M({})}}), 2, false, "{\n  \"a\": [],\n  \"b\": {}\n}"},
        {"scalars", L({N(), B(true), B(false), I(-5), F(1.0), F(-0.0), F(0.1), S("x")}), 0, false,
         "[null,true,false,-5,1.0,-0.0,0.1,\"x\"]"},
        {"non-finite floats", L({F(std::nan("")), F(INFINITY), F(-INFINITY)}), 0, false, "[null,null,null]"},
        {"1e16", F(1e16), 0, false, "10000000000000000.0"},
        {"int extremes", L({I(std::numeric_limits<std::int64_t>::min()), I(std::numeric_limits<std::int64_t>::max())}),
         0, false, "[-9223372036854775808,9223372036854775807]"},
        {"big int", Value::big_int("-123456789012345678901234567890"), 0, false, "-123456789012345678901234567890"},
        {"big int normalised", L({Value::big_int("+1_000_000_000_000_000_000"), Value::big_int("99_999_999_999_999_999_999")}),
         0, false, "[1000000000000000000,99999999999999999999]"},
        {"scalar keys", M({{I(1), S("x")}, {N(), S("y")}, {B(true), S("z")}, {F(1.5), S("w")}}), 0, false,
         "{\"1\":\"x\",\"null\":\"y\",\"true\":\"z\",\"1.5\":\"w\"}"},
        {"more scalar keys", M({{B(false), I(0)}, {F(NAN), I(1)}, {F(1e16), I(2)}, {Value::big_int("+1_0000000000000000000"), I(3)}}),
         0, false, "{\"false\":0,\"null\":1,\"10000000000000000.0\":2,\"10000000000000000000\":3}"},
        {"equal key texts are all written", M({{I(1), I(1)}, {S("1"), I(2)}}), 0, false, "{\"1\":1,\"1\":2}"},
        {"tags dropped", T("!t", M({{T("!k", T("!kk", S("a"))), T("!v", L({T("!i", I(1))}))}})), 0, false,
         "{\"a\":[1]}"},
        {"sort bytewise", M({{I(10), I(0)}, {I(9), I(1)}, {S("b"), I(2)}, {S("B"), I(3)}, {S("é"), I(4)}, {N(), I(5)}}), 0,
         true, "{\"10\":0,\"9\":1,\"B\":3,\"b\":2,\"null\":5,\"é\":4}"},
        {"sort stable on equal texts", M({{S("1"), I(1)}, {I(1), I(2)}, {S("0"), I(3)}, {S("1"), I(4)}}), 0, true,
         "{\"0\":3,\"1\":1,\"1\":2,\"1\":4}"},
        {"sort nested and indented", M({{S("z"), M({{S("y"), I(1)}, {S("x"), I(2)}})}, {S("a"), I(0)}}), 2, true,
         "{\n  \"a\": 0,\n  \"z\": {\n    \"x\": 2,\n    \"y\": 1\n  }\n}"},
        {"unsorted keeps order", M({{S("b"), I(1)}, {S("a"), I(2)}}), 0, false, "{\"b\":1,\"a\":2}"},
    };
    for (const JsonCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(json(c.value, c.indent, c.sort), c.expected);
    }
}

TEST(JsonEmitter, StringEscapes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "\"plain\""},
        {"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
        {"\"\\/", "\"\\\"\\\\/\""},
        {std::string("\x00\x01\x1b\x1f", 4), "\"\\u0000\\u0001\\u001b\\u001f\""},
        {"\x7f", "\"\x7f\""},
        {"\u2028\u2029", "\"\\u2028\\u2029\""},
        {"é€😀\u2027\u202a", "\"é€😀\u2027\u202a\""},
        {"", "\"\""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(json(S(in)), out) << in;
    // Keys are escaped the same way.
    EXPECT_EQ(json(M({{S("a\"\n\u2028"), I(1)}})), "{\"a\\\"\\n\\u2028\":1}");
    EXPECT_EQ(json(M({{S("b\t"), I(1)}, {S("a\x01"), I(2)}}), 0, true), "{\"a\\u0001\":2,\"b\\t\":1}");
}

// A byte-at-a-time reference for the escaper.
std::string reference_json_string(std::string_view s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char buf[8];
        if (c == '"') out += "\\\"";
        else if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else if (c == '\b') out += "\\b";
        else if (c == '\f') out += "\\f";
        else if (c < 0x20) {
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else if (c == 0xE2 && i + 2 < s.size() && s[i + 1] == '\x80' && (s[i + 2] == '\xA8' || s[i + 2] == '\xA9')) {
            out += s[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The escaper skips whole blocks; compare it with the byte-at-a-time reference
// for every position of every escapable character in strings of many lengths.
TEST(JsonEmitter, WordSkippingMatchesByteRule) {
    const auto reference = reference_json_string;
    const std::vector<std::string> specials = {"\"", "\\", "\n", std::string("\0", 1), "\x1f", "\u2028", "\u2029",
                                               "\u2027", "\xe2\x82\xac", "\x7f", "\x20"};
    for (std::size_t len = 0; len < 40; ++len) {
        for (const std::string& sp : specials) {
            for (std::size_t pos = 0; pos <= len; ++pos) {
                std::string s(len, 'a');
                s.insert(pos, sp);
                OutBuffer out;
                append_json_string(out, s);
                ASSERT_EQ(out.view(), reference(s)) << len << " " << pos;
            }
        }
    }
}

// Two special characters at every pair of positions in strings that span
// several 16-byte blocks (the second one lands in a later block, in the
// overlapping tail halves or in the byte tail), between non-ASCII text;
// from 64 bytes on, also across the 32-byte blocks of the AVX2 scan.
TEST(JsonEmitter, BlockEscaperMatchesByteRule) {
    const std::vector<std::string> specials = {"\"", "\\", "\n", std::string("\0", 1), "\x1f", "\u2028", "\u2029",
                                               "\u2027", "\xe2", "\xe2\x80", "\x7f", "é", "東"};
    for (const std::size_t len : {15u, 17u, 33u, 47u, 70u, 101u}) {
        for (const std::string& first : specials) {
            for (const std::string& second : specials) {
                for (std::size_t a = 0; a <= len; a += 3) {
                    for (std::size_t b = a; b <= len; ++b) {
                        std::string s(len, 'x');
                        s.insert(b, second);
                        s.insert(a, first);
                        OutBuffer out;
                        append_json_string(out, s);
                        ASSERT_EQ(out.view(), reference_json_string(s)) << len << " " << a << " " << b;
                    }
                }
            }
        }
    }
    // A long text that is mostly escapes, appended after other output.
    std::string many;
    for (int i = 0; i < 500; ++i) many += i % 3 ? "\n\t\u2028" : "plain text é";
    OutBuffer out;
    out.append("prefix");
    append_json_string(out, many);
    EXPECT_EQ(out.view(), "prefix" + reference_json_string(many));
    // Six bytes out for each byte in, from a small buffer: the room for the
    // rest is renewed many times on the way.
    for (const std::size_t plain_run : {0u, 1u, 31u, 40u}) {
        std::string dense;
        for (int i = 0; i < 300; ++i) dense += std::string(1, '\x01') + std::string(plain_run, 'y');
        OutBuffer small(16);
        append_json_string(small, dense);
        EXPECT_EQ(small.view(), reference_json_string(dense)) << plain_run;
    }
}

// Texts held as code units of each width, long enough to cross the
// writer's stretches of reserved room, with characters of every UTF-8 length
// and escapes at places that drift across the 16-unit blocks: the same
// literal as the byte escaper writes for the UTF-8 text, into a buffer that
// starts small; a surrogate anywhere fails the text.
template <class Unit>
void check_long_units(const std::vector<char32_t>& alphabet) {
    std::vector<Unit> units;
    std::string utf8;
    for (std::size_t i = 0; i < 10000; ++i) {
        const char32_t c = i % 7 == 0 ? alphabet[(i / 7) % alphabet.size()] : U'a' + static_cast<char32_t>(i % 26);
        units.push_back(static_cast<Unit>(c));
        utf8::append(utf8, c);
    }
    OutBuffer out(8);
    ASSERT_TRUE(append_json_string_units(out, units.data(), units.size(), sizeof(Unit)));
    EXPECT_EQ(out.view(), reference_json_string(utf8)) << sizeof(Unit);
    if constexpr (sizeof(Unit) > 1) {
        for (const std::size_t at : {std::size_t{0}, std::size_t{4095}, std::size_t{4100}, units.size() - 1}) {
            std::vector<Unit> broken = units;
            broken[at] = static_cast<Unit>(0xDC00 + at % 0x400);
            OutBuffer refused(8);
            EXPECT_FALSE(append_json_string_units(refused, broken.data(), broken.size(), sizeof(Unit))) << at;
        }
    }
}

TEST(JsonEmitter, CodeUnitTextsOfEveryWidth) {
    const std::vector<char32_t> latin1 = {U'"', U'\\', U'\n', 0x01, 0x1F, 0x7F, 0x80, 0xE2, 0xFF};
    std::vector<char32_t> bmp = latin1;
    bmp.insert(bmp.end(), {0x100, 0x7FF, 0x800, 0x2028, 0x2029, 0x20AC, 0xD7FF, 0xE000, 0xFFFF});
    std::vector<char32_t> astral = bmp;
    astral.insert(astral.end(), {0x10000, 0x1F680, 0x10FFFF});
    check_long_units<std::uint8_t>(latin1);
    check_long_units<std::uint16_t>(bmp);
    check_long_units<std::uint32_t>(astral);
}

// A buffer over storage its owner grows: every growth goes through the
// owner, which is told how many bytes to keep (the rest of a new block is
// junk here) and may make a block larger than asked; the bytes written
// before are kept, the larger size is used, and the buffer frees nothing.
TEST(JsonEmitter, OwnerGrownStorage) {
    struct Owner {
        std::vector<std::string> blocks;
        static char* grow(void* self, std::size_t used, std::size_t& want) {
            auto& blocks = static_cast<Owner*>(self)->blocks;
            if (blocks.size() % 2 == 0) want += 100;
            std::string bigger(want, '\xAA');
            bigger.replace(0, used, blocks.back().substr(0, used));
            blocks.push_back(std::move(bigger));
            return blocks.back().data();
        }
    } owner;
    owner.blocks.emplace_back(4, '\0');
    std::string expected;
    {
        OutBuffer out(owner.blocks.back().data(), 4, {&owner, &Owner::grow});
        for (int i = 0; i < 300; ++i) {
            const std::string piece = "item " + std::to_string(i) + "\n";
            append_json_string(out, piece);
            expected += reference_json_string(piece);
        }
        ASSERT_EQ(out.view(), expected);
        EXPECT_EQ(out.data(), owner.blocks.back().data());
    }
    EXPECT_GT(owner.blocks.size(), 5u);
    EXPECT_EQ(owner.blocks.back().substr(0, expected.size()), expected);
    // Each block was asked for only when the one before it was full: the
    // room the owner added was used.
    for (std::size_t i = 1; i + 1 < owner.blocks.size(); ++i) {
        EXPECT_LT(owner.blocks[i].size() * 2, owner.blocks[i + 1].size() + 64) << i;
    }
}

TEST(JsonEmitter, CollectionKeysFail) {
    for (const Value& key : {L({I(1), I(2)}), M({}), T("!t", L({})), T("!a", T("!b", M({{S("k"), I(1)}})))}) {
        for (bool sort : {false, true}) {
            const Value doc = L({M({{S("ok"), I(1)}, {key, I(2)}})});
            Result<std::string> r = emit_json(doc, 2, sort);
            ASSERT_FALSE(r.ok());
            EXPECT_EQ(r.error().kind, ErrorKind::Encode);
            EXPECT_EQ(r.error().message, "a collection cannot be a JSON object key");
        }
    }
    // A collection as a value is fine.
    EXPECT_EQ(json(M({{S("k"), L({M({})})}})), "{\"k\":[{}]}");
}

TEST(JsonEmitter, SortedManyEntriesAndNestedArenas) {
    // Non-string key texts of an outer mapping must survive the inner
    // mappings' own key texts.
    Mapping outer;
    for (int i = 30; i > 0; --i) {
        Mapping inner;
        for (int j = 3; j > 0; --j) inner.push_back({F(j + 0.5), I(j)});
        outer.push_back({I(i), Value::mapping(std::move(inner))});
    }
    const std::string out = json(Value::mapping(std::move(outer)), 0, true);
    std::vector<std::string> keys;
    for (int i = 1; i <= 30; ++i) keys.push_back(std::to_string(i));
    std::sort(keys.begin(), keys.end());
    std::string expected = "{";
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i) expected += ",";
        expected += "\"" + keys[i] + "\":{\"1.5\":1,\"2.5\":2,\"3.5\":3}";
    }
    expected += "}";
    EXPECT_EQ(out, expected);
}

TEST(JsonEmitter, AppendsToCallersBuffer) {
    OutBuffer out;
    out.append("x=");
    ASSERT_TRUE(emit_json_into(out, L({I(1)}), 0, false).ok());
    EXPECT_EQ(out.view(), "x=[1]");
}

TEST(JsonEmitter, DeepTreesDoNotOverflowTheStack) {
    const std::size_t depth = 200000;
    Value v = N();
    for (std::size_t i = 0; i < depth; ++i) {
        Mapping m;
        m.push_back({S("k"), std::move(v)});
        v = Value::mapping(std::move(m));
    }
    const std::string out = json(v, 0, true);
    ASSERT_EQ(out.size(), depth * 6 + 4);
    EXPECT_EQ(out.substr(0, 12), "{\"k\":{\"k\":{\"");
    EXPECT_EQ(out.substr(out.size() - depth - 4), "null" + std::string(depth, '}'));
}

}  // namespace
}  // namespace torvex
