// Resolution of untagged scalars in the three modes: keyword, integer, big
// integer and float tables, the non-plain styles, and round-trip properties
// of printed numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "resolver/resolve.hpp"
#include "resolver_expect.hpp"

namespace torvex {
namespace {

using namespace std::string_literals;


// One text and what it means in mode 0, 1 and 2.
struct PlainCase {
    std::string text;
    Expect m0, m1, m2;
};

std::string describe(const std::string& text, ResolveMode mode) {
    return "text '" + text + "' in mode " + std::to_string(static_cast<int>(mode));
}

class ResolverPlain : public ::testing::TestWithParam<std::tuple<PlainCase, ResolveMode>> {};

TEST_P(ResolverPlain, ResolvesPerMode) {
    const auto& [c, mode] = GetParam();
    const Expect& want = mode == ResolveMode::Yaml12 ? c.m0 : mode == ResolveMode::Yaml11 ? c.m1 : c.m2;
    expect_resolved(resolve(mode, c.text, true, std::nullopt), want, describe(c.text, mode));
    // An empty tag is no tag.
    expect_resolved(resolve(mode, c.text, true, std::string_view{}), want, describe(c.text, mode) + " (empty tag)");
}

TEST_P(ResolverPlain, OtherStylesAreStrings) {
    const auto& [c, mode] = GetParam();
    expect_resolved(resolve(mode, c.text, false, std::nullopt), S, describe(c.text, mode) + " quoted");
}

const PlainCase kKeywords[] = {
    {"", N, N, N},          {"~", N, N, N},           {"~~", S, S, S},          {"null", N, N, N},
    {"Null", N, N, N},      {"NULL", N, N, N},        {"nUll", S, S, S},        {"nul", S, S, S},
    {"nulls", S, S, S},     {"<<", M, M, M},          {"<", S, S, S},           {"<<<", S, S, S},
    {"true", B(true), B(true), B(true)},              {"True", B(true), B(true), B(true)},
    {"TRUE", B(true), B(true), B(true)},              {"tRUE", S, S, S},
    {"false", B(false), B(false), B(false)},          {"False", B(false), B(false), B(false)},
    {"FALSE", B(false), B(false), B(false)},          {"fAlse", S, S, S},
    {"yes", S, B(true), B(true)},                     {"Yes", S, B(true), B(true)},
    {"YES", S, B(true), B(true)},                     {"yEs", S, S, S},
    {"no", S, B(false), B(false)},                    {"No", S, B(false), B(false)},
    {"NO", S, B(false), B(false)},                    {"nO", S, S, S},
    {"on", S, B(true), B(true)},                      {"On", S, B(true), B(true)},
    {"ON", S, B(true), B(true)},                      {"oN", S, S, S},
    {"off", S, B(false), B(false)},                   {"Off", S, B(false), B(false)},
    {"OFF", S, B(false), B(false)},                   {"oFF", S, S, S},
    {"y", S, B(true), S},   {"Y", S, B(true), S},     {"n", S, B(false), S},    {"N", S, B(false), S},
    {"yess", S, S, S},      {"o", S, S, S},           {"t", S, S, S},           {"f", S, S, S},
    {"abc", S, S, S},       {"true\0"s, S, S, S},     {"truex", S, S, S},
};

const PlainCase kIntegers[] = {
    {"0", I(0), I(0), I(0)},
    {"-0", I(0), I(0), I(0)},
    {"+0", I(0), I(0), I(0)},
    {"7", I(7), I(7), I(7)},
    {"+12", I(12), I(12), I(12)},
    {"-12", I(-12), I(-12), I(-12)},
    {"00", S, I(0), I(0)},
    {"012", S, I(10), I(10)},
    {"-012", S, I(-10), I(-10)},
    {"08", S, S, S},
    {"09", S, S, S},
    {"0_7", S, I(7), I(7)},
    {"0_8", S, S, S},
    {"0x1F", I(31), I(31), I(31)},
    {"0X1f", I(31), I(31), I(31)},
    {"-0x1F", I(-31), I(-31), I(-31)},
    {"+0x1F", I(31), I(31), I(31)},
    {"0x1E", I(30), I(30), I(30)},
    {"0x", S, S, S},
    {"0o", S, S, S},
    {"0b", S, S, S},
    {"0xG", S, S, S},
    {"0x-1", S, S, S},
    {"0x+1", S, S, S},
    {"0o-7", S, S, S},
    {"0x1F ", S, S, S},
    {"0o12", I(10), S, S},
    {"0O17", I(15), S, S},
    {"-0o17", I(-15), S, S},
    {"0o8", S, S, S},
    {"0b101", S, I(5), I(5)},
    {"0B11", S, I(3), I(3)},
    {"-0b101", S, I(-5), I(-5)},
    {"0b102", S, S, S},
    {"1_000", S, I(1000), I(1000)},
    {"1__0", S, I(10), I(10)},
    {"1_", S, I(1), I(1)},
    // an underscore may follow a digit, never lead (these were read as 1 and -1)
    {"_1", S, S, S},
    {"-_1", S, S, S},
    {"+_83", S, S, S},
    {"__1", S, S, S},
    {"_0x1F", S, S, S},
    {"_0b1", S, S, S},
    {"_012", S, S, S},
    {"_1:30", S, S, S},
    {"-_1_000_000_000_000_000_000_000", S, S, S},
    {"1_:30", S, I(90), I(90)},
    {"+0_", S, I(0), I(0)},
    {"_", S, S, S},
    {"__", S, S, S},
    {"+", S, S, S},
    {"-", S, S, S},
    {"+-1", S, S, S},
    {"--1", S, S, S},
    {"0x_1F", S, I(31), I(31)},
    {"0_x1F", S, I(31), I(31)},
    {"0x1_F", S, I(31), I(31)},
    {"0b1_01", S, I(5), I(5)},
    {"0_0", S, I(0), I(0)},
    {"1 000", S, S, S},
    {" 1", S, S, S},
    {"1 ", S, S, S},
    {"1\0"s, S, S, S},
    {"\xEF\xBC\x91", S, S, S},  // a full-width digit one
    // 64-bit boundaries
    {"9223372036854775807", I(kMax), I(kMax), I(kMax)},
    {"-9223372036854775807", I(-kMax), I(-kMax), I(-kMax)},
    {"9223372036854775808", Big, Big, Big},
    {"+9223372036854775808", Big, Big, Big},
    {"-9223372036854775808", Big, Big, Big},
    {"18446744073709551616", Big, Big, Big},
    {"99999999999999999999999999999999999999", Big, Big, Big},
    {"09999999999999999999999", S, S, S},
    {"9_223_372_036_854_775_807", S, I(kMax), I(kMax)},
    {"1_000_000_000_000_000_000_000", S, Big, Big},
    {"-1_000_000_000_000_000_000_000", S, Big, Big},
    {"0x7FFFFFFFFFFFFFFF", I(kMax), I(kMax), I(kMax)},
    {"-0x7FFFFFFFFFFFFFFF", I(-kMax), I(-kMax), I(-kMax)},
    {"0x8000000000000000", S, S, S},
    {"0x10000000000000000", S, S, S},
    {"0o777777777777777777777", I(kMax), S, S},
    {"0o1000000000000000000000", S, S, S},
    {"0777777777777777777777", S, I(kMax), I(kMax)},
    {"01000000000000000000000", S, S, S},
    {"0b" + std::string(63, '1'), S, I(kMax), I(kMax)},
    {"0b1" + std::string(63, '0'), S, S, S},
    // sexagesimal (YAML 1.1)
    {"1:30", S, I(90), I(90)},
    {"-1:30", S, I(-90), I(-90)},
    {"+1:30", S, I(90), I(90)},
    {"1:59", S, I(119), I(119)},
    {"1:60", S, S, S},
    {"190:20:30", S, I(685230), I(685230)},
    {"12:30:45", S, I(45045), I(45045)},
    {"1:7", S, I(67), I(67)},
    {"1_0:3", S, I(603), I(603)},
    {"24:00:01", S, I(86401), I(86401)},
    // base 60 starts at 1 to 9 and takes one or two digits below 60 after
    // each colon: times of day and codes stay text (these were 90, 30,
    // 510, 27000, 300, 67, 90, 90, 60)
    {"01:30", S, S, S},
    {"0:30", S, S, S},
    {"08:30", S, S, S},
    {"07:30:00", S, S, S},
    {"00:05:00", S, S, S},
    {"1:007", S, S, S},
    {"1:3_0", S, S, S},
    {"1:_30", S, S, S},
    {"1:00_", S, S, S},
    {"-0:30", S, S, S},
    {"0x1:30", S, S, S},
    {"1:", S, S, S},
    {"1::30", S, S, S},
    {":30", S, S, S},
    {"1:-30", S, S, S},
    {"1:+30", S, S, S},
    {"1:_", S, S, S},
    {"1:3a", S, S, S},
    {"0x1:2", S, S, S},
    {"153722867280912930:7", S, I(kMax), I(kMax)},
    {"153722867280912930:8", S, S, S},
    {"9223372036854775808:0", S, S, S},
};

const PlainCase kFloats[] = {
    {"1e3", F(1000), F(1000), F(1000)},
    {"1E3", F(1000), F(1000), F(1000)},
    {"1.", F(1), F(1), F(1)},
    {"-1.", F(-1), F(-1), F(-1)},
    {".5", F(0.5), F(0.5), F(0.5)},
    {"+.5", F(0.5), F(0.5), F(0.5)},
    {"-.5e-2", F(-0.005), F(-0.005), F(-0.005)},
    {"-2.5E-3", F(-2.5E-3), F(-2.5E-3), F(-2.5E-3)},
    {"1.5e+3", F(1500), F(1500), F(1500)},
    {"1.e5", F(1e5), F(1e5), F(1e5)},
    {"012.5", F(12.5), F(12.5), F(12.5)},
    {"00.0", F(0), F(0), F(0)},
    {"-0.0", F(-0.0), F(-0.0), F(-0.0)},
    {"0.1", F(0.1), F(0.1), F(0.1)},
    {"1e400", F(kInf), F(kInf), F(kInf)},
    {"-1e400", F(-kInf), F(-kInf), F(-kInf)},
    {"1e-400", F(0), F(0), F(0)},
    {"-1e-400", F(-0.0), F(-0.0), F(-0.0)},
    {"1.2.3", S, S, S},
    {".", S, S, S},
    {"-.", S, S, S},
    {".e5", S, S, S},
    {"1e", S, S, S},
    {"1e+", S, S, S},
    {"1e5.5", S, S, S},
    {"e5", S, S, S},
    {"E5", S, S, S},
    {"1,5", S, S, S},
    {"0x1p3", S, S, S},
    {"1.5 ", S, S, S},
    {".inf", F(kInf), F(kInf), F(kInf)},
    {".Inf", F(kInf), F(kInf), F(kInf)},
    {".INF", F(kInf), F(kInf), F(kInf)},
    {"+.inf", F(kInf), F(kInf), F(kInf)},
    {"-.INF", F(-kInf), F(-kInf), F(-kInf)},
    {"-.Inf", F(-kInf), F(-kInf), F(-kInf)},
    {".iNf", S, S, S},
    {".nan", F(kNaN), F(kNaN), F(kNaN)},
    {".NaN", F(kNaN), F(kNaN), F(kNaN)},
    {".NAN", F(kNaN), F(kNaN), F(kNaN)},
    {".Nan", S, S, S},
    {"+.nan", S, S, S},
    {"-.nan", S, S, S},
    {"inf", S, S, S},
    {"-inf", S, S, S},
    {"nan", S, S, S},
    {"infinity", S, S, S},
    {".infinity", S, S, S},
    // underscores (YAML 1.1)
    {"1_000.5", S, F(1000.5), F(1000.5)},
    {"1_0e1_0", S, F(1e11), F(1e11)},
    {"1.5_", S, F(1.5), F(1.5)},
    // an underscore may follow a digit, never lead (`_.5` was read as 0.5)
    {"_.5", S, S, S},
    {"._5", S, S, S},
    {"-._5", S, S, S},
    {"_1.5", S, S, S},
    {"+_1.5", S, S, S},
    {"_1e3", S, S, S},
    {"._", S, S, S},
    {".5_", S, F(0.5), F(0.5)},
    {"-.5_5", S, F(-0.55), F(-0.55)},
    {"1_.5", S, F(1.5), F(1.5)},
    {"1._5", S, F(1.5), F(1.5)},
    {"1e_-_3", S, F(1e-3), F(1e-3)},
    {"_._", S, S, S},
    // sexagesimal floats (YAML 1.1)
    {"1:30.5", S, F(90.5), F(90.5)},
    {"-1:30.5", S, F(-90.5), F(-90.5)},
    {"+1:30.5", S, F(90.5), F(90.5)},
    {"_-1:30.5", S, S, S},  // was -90.5: an underscore cannot lead
    {"-_1:30.5", S, S, S},
    {"_1:30.5", S, S, S},
    {"-0:30.5", S, F(-30.5), F(-30.5)},
    {"-0:0.0", S, F(-0.0), F(-0.0)},
    {"+-1:30.5", S, S, S},
    {"190:20:30.15", S, F((190.0 * 60 + 20) * 60 + 30.15), F((190.0 * 60 + 20) * 60 + 30.15)},
    {"1:.5", S, S, S},  // was 60.5: the last part needs its digits
    {"07:30:00.5", S, F(27000.5), F(27000.5)},
    {"00:00:01.", S, F(1.0), F(1.0)},
    {"1_0:30.5", S, F(630.5), F(630.5)},
    {"1_0:3_0.5", S, S, S},
    {"1:-30.5", S, S, S},
    {"1:+30.5", S, S, S},
    {"1:30e2", S, S, S},
    {"1::.5", S, S, S},
    {":.5", S, S, S},
    {"1:30.5.5", S, S, S},
    // the fraction belongs to the last part, every later part stays below 60
    // and no part takes an exponent (these were 120, 60, 120.5, 630.5, 3110)
    {"1.5:30", S, S, S},
    {".5:30", S, S, S},
    {"1:30.5:30", S, S, S},
    {"1.:30", S, S, S},
    {"1:60.5", S, S, S},
    {"1:60.", S, S, S},
    {"1:75:30.5", S, S, S},
    {"1:59.99", S, F(60.0 + 59.99), F(60.0 + 59.99)},
    {"1:30.", S, F(90), F(90)},
    {"1:_.5", S, S, S},
    {"1:030.5", S, S, S},
    {"1:3_0.5", S, S, S},
    {"99999999999999999999:30.5", S, F(6e21 + 30.5), F(6e21 + 30.5)},
    {"1e1:30.5", S, S, S},
    {"1:30.5e2", S, S, S},
    {"1:30.5e", S, S, S},
    {"1:3.0_5", S, F(60.0 + 3.05), F(60.0 + 3.05)},
    {"1:30.x", S, S, S},
    {"1:.", S, S, S},
    {"1:_", S, S, S},
    // no timestamps
    {"2001-12-14", S, S, S},
    {"2001-12-14 21:59:43.10", S, S, S},
    {"2001-12-14t21:59:43.10-05:00", S, S, S},
};

INSTANTIATE_TEST_SUITE_P(Keywords, ResolverPlain,
                         ::testing::Combine(::testing::ValuesIn(kKeywords), ::testing::ValuesIn(kModes)));
INSTANTIATE_TEST_SUITE_P(Integers, ResolverPlain,
                         ::testing::Combine(::testing::ValuesIn(kIntegers), ::testing::ValuesIn(kModes)));
INSTANTIATE_TEST_SUITE_P(Floats, ResolverPlain,
                         ::testing::Combine(::testing::ValuesIn(kFloats), ::testing::ValuesIn(kModes)));

TEST(ResolverKindName, NamesEveryKind) {
    EXPECT_STREQ(resolved_kind_name(ResolvedKind::Null), "null");
    EXPECT_STREQ(resolved_kind_name(ResolvedKind::Bool), "bool");
    EXPECT_STREQ(resolved_kind_name(ResolvedKind::Int), "int");
    EXPECT_STREQ(resolved_kind_name(ResolvedKind::BigInt), "int");
    EXPECT_STREQ(resolved_kind_name(ResolvedKind::Float), "float");
    EXPECT_STREQ(resolved_kind_name(ResolvedKind::Str), "str");
    EXPECT_STREQ(resolved_kind_name(ResolvedKind::Merge), "merge");
}

std::string print(std::int64_t v) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// Every 64-bit integer printed in decimal reads back as itself in every mode,
// with and without a '+'; only the most negative one, whose magnitude does not
// fit, stays text as a big int.
TEST(ResolverProperty, DecimalInt64ReadsBack) {
    std::vector<std::int64_t> values = {0, 1, -1, 9, 10, -10, 59, 60, kMax, kMax - 1, -kMax, -kMax + 1};
    std::mt19937_64 rng(20261207);
    for (int i = 0; i < 20000; ++i) {
        const auto v = static_cast<std::int64_t>(rng() >> (rng() % 64));
        values.push_back(v);
        values.push_back(-v);
    }
    for (const auto mode : kModes) {
        for (const auto v : values) {
            if (v == std::numeric_limits<std::int64_t>::min()) continue;
            const std::string text = print(v);
            expect_resolved(resolve(mode, text, true, std::nullopt), I(v), describe(text, mode));
            if (v >= 0) expect_resolved(resolve(mode, "+" + text, true, std::nullopt), I(v), describe(text, mode));
        }
        const std::string min = print(std::numeric_limits<std::int64_t>::min());
        expect_resolved(resolve(mode, min, true, std::nullopt), Big, describe(min, mode));
    }
}

// Hexadecimal up to 2^63 - 1 is an int in modes 0 and 1; beyond, text.
TEST(ResolverProperty, HexIntegersReadBackOrStayText) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t v = rng() >> (rng() % 64);
        char buf[32];
        const std::string text = "0x" + std::string(buf, std::to_chars(buf, buf + sizeof buf, v, 16).ptr);
        const Expect want = v <= static_cast<std::uint64_t>(kMax) ? I(static_cast<std::int64_t>(v)) : S;
        expect_resolved(resolve(ResolveMode::Yaml12, text, true, std::nullopt), want, describe(text, ResolveMode::Yaml12));
        expect_resolved(resolve(ResolveMode::Yaml11, text, true, std::nullopt), want, describe(text, ResolveMode::Yaml11));
    }
}

// The shortest text of a double that contains '.' or an exponent reads back
// as exactly that double; under YAML 1.1 also with underscores sprinkled in.
TEST(ResolverProperty, ShortestDoubleTextReadsBack) {
    std::mt19937_64 rng(1234567);
    int checked = 0;
    for (int i = 0; i < 40000; ++i) {
        double d = 0;
        if (i % 2 == 0) {
            const std::uint64_t bits = rng();
            static_assert(sizeof bits == sizeof d);
            std::memcpy(&d, &bits, sizeof d);
            if (!std::isfinite(d)) continue;
        } else {
            d = std::uniform_real_distribution<double>(-1e6, 1e6)(rng);
        }
        char buf[64];
        const auto format = i % 3 == 0 ? std::chars_format::scientific : std::chars_format::general;
        std::string text(buf, std::to_chars(buf, buf + sizeof buf, d, format).ptr);
        if (text.find_first_of(".eE") == std::string::npos) continue;
        ++checked;
        for (const auto mode : kModes) {
            const Resolved r = resolve(mode, text, true, std::nullopt);
            ASSERT_EQ(r.kind, ResolvedKind::Float) << describe(text, mode);
            ASSERT_EQ(std::memcmp(&r.floating, &d, sizeof d), 0) << describe(text, mode);
        }
        // Underscores after the first digit change nothing; before it, the
        // text is no number.
        std::string sprinkled;
        bool digit_seen = false;
        bool leading = false;
        for (const char c : text) {
            if (rng() % 3 == 0) {
                sprinkled += '_';
                leading = leading || !digit_seen;
            }
            sprinkled += c;
            digit_seen = digit_seen || (c >= '0' && c <= '9');
        }
        const Resolved r = resolve(ResolveMode::Yaml11, sprinkled, true, std::nullopt);
        if (leading) {
            ASSERT_EQ(r.kind, ResolvedKind::Str) << describe(sprinkled, ResolveMode::Yaml11);
            continue;
        }
        ASSERT_EQ(r.kind, ResolvedKind::Float) << describe(sprinkled, ResolveMode::Yaml11);
        ASSERT_EQ(std::memcmp(&r.floating, &d, sizeof d), 0) << describe(sprinkled, ResolveMode::Yaml11);
    }
    EXPECT_GT(checked, 30000);
}

// Long fixed-notation texts (hundreds of digits) read back exactly.
TEST(ResolverProperty, LongFixedTextReadsBack) {
    std::mt19937_64 rng(99);
    for (int i = 0; i < 2000; ++i) {
        const double d = std::ldexp(std::uniform_real_distribution<double>(1, 2)(rng),
                                    static_cast<int>(rng() % 2000) - 1000);
        char buf[1600];
        std::string text(buf, std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, 1070).ptr);
        for (const auto mode : kModes) {
            const Resolved r = resolve(mode, text, true, std::nullopt);
            ASSERT_EQ(r.kind, ResolvedKind::Float) << describe(text, mode);
            ASSERT_EQ(r.floating, d) << describe(text, mode);
        }
        text = text.substr(0, 1) + "_" + text.substr(1);  // longer than any on-stack copy
        const Resolved r = resolve(ResolveMode::Yaml11, text, true, std::nullopt);
        ASSERT_EQ(r.kind, ResolvedKind::Float) << describe(text, ResolveMode::Yaml11);
        ASSERT_EQ(r.floating, d) << describe(text, ResolveMode::Yaml11);
    }
}

// The decoder skips resolution for plain scalars whose first byte and length
// say str. Every first byte joined to the tail of each text that is something
// other than a str in some mode, and to random tails: where the glance says
// str, every mode must agree.
TEST(ResolverProperty, StrAtAGlanceAgreesWithResolution) {
    const std::vector<std::string> meaningful = {
        "~", "<<", "null", "Null", "NULL", "true", "True", "TRUE", "false", "False", "FALSE", "y", "Y", "n", "N",
        "yes", "Yes", "YES", "no", "No", "NO", "on", "On", "ON", "off", "Off", "OFF", "0", "7", "-1", "+1",
        "0x1F", "0o17", "0b101", "017", "1_000", "190:20:30", ".5", "-.5", "1.5", "1e3", "6.8523015e+5",
        ".inf", "-.Inf", "+.INF", ".nan", ".NaN", "123456789012345678901234567890"};
    std::vector<std::string> tails;
    for (const std::string& word : meaningful) tails.push_back(word.substr(1));
    std::mt19937_64 rng(7);
    const std::string alphabet = "0123456789._:+-eExXoObBnNaAlLuUtTrRsSfF ~<";
    for (int i = 0; i < 400; ++i) {
        std::string tail;
        for (std::size_t n = rng() % 12; n > 0; --n) tail.push_back(alphabet[rng() % alphabet.size()]);
        tails.push_back(tail);
    }
    int judged_str = 0;
    for (int first = 0; first < 256; ++first) {
        for (const std::string& tail : tails) {
            const std::string text = std::string(1, static_cast<char>(first)) + tail;
            if (!plain_is_str_at_a_glance(text)) continue;
            ++judged_str;
            for (const auto mode : kModes) {
                ASSERT_EQ(resolve(mode, text, true, std::nullopt).kind, ResolvedKind::Str) << describe(text, mode);
            }
        }
    }
    // Most first bytes (letters other than the keywords' initials, `/`, `$`, ...) take the short cut.
    EXPECT_GT(judged_str, 200 * static_cast<int>(tails.size()));
    EXPECT_FALSE(plain_is_str_at_a_glance(""));
    for (const std::string& word : meaningful) EXPECT_FALSE(plain_is_str_at_a_glance(word)) << word;
    // The glance also looks at the second byte of a text as short as a
    // keyword: every pair of first two bytes, before the rest of each keyword.
    std::vector<std::string> rests = {""};
    for (const std::string& word : meaningful) {
        const std::string rest = word.size() > 2 ? word.substr(2) : "";
        if (std::find(rests.begin(), rests.end(), rest) == rests.end()) rests.push_back(rest);
    }
    int short_judged_str = 0;
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            for (const std::string& rest : rests) {
                const std::string text = std::string{static_cast<char>(first), static_cast<char>(second)} + rest;
                if (text.size() > 5 || !plain_is_str_at_a_glance(text)) continue;
                ++short_judged_str;
                for (const auto mode : kModes) {
                    ASSERT_EQ(resolve(mode, text, true, std::nullopt).kind, ResolvedKind::Str) << describe(text, mode);
                }
            }
        }
    }
    EXPECT_GT(short_judged_str, 200 * 256 * static_cast<int>(rests.size()));
}

// The direct reader resolves a few keywords without the general resolver:
// every text it takes them for, every mode must read alike, without a
// 1.1-versus-1.2 difference; and it takes no other keyword of any mode.
TEST(ResolverProperty, KeywordsInEveryModeAgreeWithResolution) {
    const std::vector<std::string> texts = {"~", "null", "Null", "NULL", "true", "True", "TRUE", "false", "False",
                                            "FALSE", "nULL", "tRUE", "fALSE", "y", "n", "no", "NO", "yes", "on",
                                            "off", "OFF", "~~", "nul", "<<", "", "1", "Nil", "none"};
    int taken = 0;
    for (const std::string& text : texts) {
        Resolved keyword;
        const bool took = plain_keyword_in_every_mode(text, keyword);
        bool same_everywhere = true;
        for (const auto mode : kModes) {
            const Resolved r = resolve(mode, text, true, std::nullopt);
            if (r.kind != resolve(ResolveMode::Yaml12, text, true, std::nullopt).kind ||
                (r.kind != ResolvedKind::Null && r.kind != ResolvedKind::Bool) || version_difference(mode, text, true, std::nullopt))
                same_everywhere = false;
            if (took) {
                ASSERT_EQ(r.kind, keyword.kind) << describe(text, mode);
                if (r.kind == ResolvedKind::Bool) {
                    ASSERT_EQ(r.boolean, keyword.boolean) << describe(text, mode);
                }
                ASSERT_FALSE(version_difference(mode, text, true, std::nullopt)) << describe(text, mode);
            }
        }
        EXPECT_EQ(took, same_everywhere && !text.empty()) << text;
        taken += took ? 1 : 0;
    }
    EXPECT_EQ(taken, 10);
}

// The decoders read short decimal fractions without the general resolver:
// wherever that short cut takes a text, every mode must read the same float,
// bit for bit, and see no 1.1-versus-1.2 difference.
TEST(ResolverProperty, ShortDecimalFloatAgreesWithResolution) {
    std::mt19937_64 rng(13);
    const std::string alphabet = "000123456789999..-+_eE:";
    int taken = 0;
    for (int i = 0; i < 300000; ++i) {
        std::string text;
        for (std::size_t n = rng() % 20; n > 0; --n) text.push_back(alphabet[rng() % alphabet.size()]);
        double value = 0.0;
        if (!plain_short_decimal_float(text, value)) continue;
        ++taken;
        for (const auto mode : kModes) {
            const Resolved r = resolve(mode, text, true, std::nullopt);
            ASSERT_EQ(r.kind, ResolvedKind::Float) << describe(text, mode);
            ASSERT_EQ(std::bit_cast<std::uint64_t>(r.floating), std::bit_cast<std::uint64_t>(value))
                << describe(text, mode);
            ASSERT_FALSE(version_difference(mode, text, true, std::nullopt)) << describe(text, mode);
        }
    }
    EXPECT_GT(taken, 1000);
    // Fifteen significant digits, the most it takes, with every digit count in the fraction.
    for (int point = 1; point < 15; ++point) {
        for (int k = 0; k < 2000; ++k) {
            const std::string digits = std::to_string(100000000000000ULL + rng() % 900000000000000ULL);
            const auto at = static_cast<std::size_t>(point);
            const std::string text = digits.substr(0, at) + "." + digits.substr(at);
            double value = 0.0;
            ASSERT_TRUE(plain_short_decimal_float(text, value)) << text;
            ASSERT_EQ(std::bit_cast<std::uint64_t>(resolve(ResolveMode::Yaml12, text, true, std::nullopt).floating),
                      std::bit_cast<std::uint64_t>(value))
                << text;
        }
    }
    // And it leaves alone what some mode reads otherwise or what it cannot round alone.
    for (const std::string text : {"", ".", "-.5", "5.", "1.5e3", "+1.5", "01.5", "1_0.5", "1:30.5", "0x1.8",
                                   "1234567890.1234567", "1.2.3", "-"}) {
        double value = 0.0;
        EXPECT_FALSE(plain_short_decimal_float(text, value)) << text;
    }
}


// The decoders read short decimal integers without the general resolver:
// wherever that short cut takes a text, every mode must read the same int
// and see no 1.1-versus-1.2 difference. Random texts of digits, signs,
// separators and other number characters, of lengths around the cut's limit.
TEST(ResolverProperty, ShortDecimalAgreesWithResolution) {
    std::mt19937_64 rng(11);
    const std::string alphabet = "00123456789-+_.:xoeE ";
    int taken = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        for (std::size_t n = rng() % 22; n > 0; --n) text.push_back(alphabet[rng() % alphabet.size()]);
        if (i % 3 == 0 && !text.empty()) text[0] = "-123456789"[rng() % 10];
        std::int64_t value = 0;
        if (!plain_short_decimal(text, value)) continue;
        ++taken;
        for (const auto mode : kModes) {
            const Resolved r = resolve(mode, text, true, std::nullopt);
            ASSERT_EQ(r.kind, ResolvedKind::Int) << describe(text, mode);
            ASSERT_EQ(r.integer, value) << describe(text, mode);
            ASSERT_FALSE(version_difference(mode, text, true, std::nullopt)) << describe(text, mode);
        }
    }
    EXPECT_GT(taken, 1000);
    // And it leaves alone what some mode reads otherwise or what may not fit.
    for (const std::string text : {"", "-", "00", "-01", "012", "+1", "1_0", "1:30", "1234567890123456789"}) {
        std::int64_t value = 0;
        EXPECT_FALSE(plain_short_decimal(text, value)) << text;
    }
}

}  // namespace
}  // namespace torvex
