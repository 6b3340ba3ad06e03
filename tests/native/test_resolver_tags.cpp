// Coercion by explicit tags, the 1.1-versus-1.2 difference and its warning.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <tuple>

#include "resolver/resolve.hpp"
#include "resolver_expect.hpp"

namespace torvex {
namespace {

// `name` is the tag without its prefix; each case runs with `!!name` and
// `tag:yaml.org,2002:name`, plain and quoted, in every mode.
struct TagCase {
    std::string name;
    std::string text;
    Expect m0, m1, m2;
};

class ResolverTagged : public ::testing::TestWithParam<std::tuple<TagCase, ResolveMode>> {};

TEST_P(ResolverTagged, CoercesWhateverTheStyle) {
    const auto& [c, mode] = GetParam();
    const Expect& want = mode == ResolveMode::Yaml12 ? c.m0 : mode == ResolveMode::Yaml11 ? c.m1 : c.m2;
    for (const std::string& tag : {"!!" + c.name, "tag:yaml.org,2002:" + c.name}) {
        for (const bool plain : {true, false}) {
            const Resolved got = resolve(mode, c.text, plain, tag);
            const std::string what = tag + " '" + c.text + "' in mode " + std::to_string(static_cast<int>(mode)) +
                                     (plain ? " plain" : " quoted");
            expect_resolved(got, want, what);
        }
    }
}

const TagCase kTagCases[] = {
    {"null", "abc", N, N, N},
    {"null", "", N, N, N},
    {"null", "0", N, N, N},
    {"bool", "true", B(true), B(true), B(true)},
    {"bool", "True", B(true), B(true), B(true)},
    {"bool", "TRUE", B(true), B(true), B(true)},
    {"bool", "false", B(false), B(false), B(false)},
    {"bool", "yes", B(false), B(true), B(true)},
    {"bool", "on", B(false), B(true), B(true)},
    {"bool", "y", B(false), B(true), B(false)},
    {"bool", "off", B(false), B(false), B(false)},
    {"bool", "abc", B(false), B(false), B(false)},
    {"bool", "1", B(false), B(false), B(false)},
    {"bool", "", B(false), B(false), B(false)},
    {"int", "12", I(12), I(12), I(12)},
    {"int", "+5", I(5), I(5), I(5)},
    {"int", "-0x1F", I(-31), I(-31), I(-31)},
    {"int", "0o17", I(15), I(0), I(0)},
    {"int", "012", I(0), I(10), I(10)},
    {"int", "0b101", I(0), I(5), I(5)},
    {"int", "1_000", I(0), I(1000), I(1000)},
    {"int", "1:30", I(0), I(90), I(90)},
    {"int", "abc", I(0), I(0), I(0)},
    {"int", "", I(0), I(0), I(0)},
    {"int", "1.5", I(0), I(0), I(0)},
    {"int", " 12", I(0), I(0), I(0)},
    {"int", "99999999999999999999", Big, Big, Big},
    {"int", "-9223372036854775808", Big, Big, Big},
    {"int", "1_000_000_000_000_000_000_000", I(0), Big, Big},
    {"int", "0x8000000000000000", I(0), I(0), I(0)},
    // an underscore never leads a 1.1 number: such text is no integer, like "abc"
    {"int", "_1", I(0), I(0), I(0)},
    {"int", "-_1", I(0), I(0), I(0)},
    {"int", "_0x1F", I(0), I(0), I(0)},
    {"int", "_1:30", I(0), I(0), I(0)},
    {"int", "_1_000_000_000_000_000_000_000", I(0), I(0), I(0)},
    {"int", "1_", I(0), I(1), I(1)},
    {"int", "0x_1F", I(0), I(31), I(31)},
    {"float", "1", F(1), F(1), F(1)},
    {"float", "+1", F(1), F(1), F(1)},
    {"float", "012", F(12), F(12), F(12)},
    {"float", "1.5", F(1.5), F(1.5), F(1.5)},
    {"float", "-2.5E-3", F(-2.5e-3), F(-2.5e-3), F(-2.5e-3)},
    {"float", "99999999999999999999", F(1e20), F(1e20), F(1e20)},
    {"float", "1e400", F(kInf), F(kInf), F(kInf)},
    {"float", ".inf", F(kInf), F(kInf), F(kInf)},
    {"float", "-.Inf", F(-kInf), F(-kInf), F(-kInf)},
    {"float", ".nan", F(kNaN), F(kNaN), F(kNaN)},
    {"float", "1_000", F(0), F(1000), F(1000)},
    {"float", "1:30", F(0), F(90), F(90)},
    {"float", "1:30.5", F(0), F(90.5), F(90.5)},
    {"float", "-1:30", F(0), F(-90), F(-90)},
    {"float", "1:60", F(0), F(0), F(0)},
    {"float", "1.5:30", F(0), F(0), F(0)},
    {"float", "1:30e2", F(0), F(0), F(0)},
    {"float", "1:5_9", F(0), F(0), F(0)},
    // base 60 under a tag: the integer pattern starts at 1 to 9, the float
    // pattern at any digit (its point optional here, as for `!!float 1`)
    {"int", "07:30", I(0), I(0), I(0)},
    {"int", "1:007", I(0), I(0), I(0)},
    {"int", "7:30", I(0), I(450), I(450)},
    {"float", "07:30", F(0), F(450), F(450)},
    {"float", "00:00:01.5", F(0), F(1.5), F(1.5)},
    {"float", "1:007", F(0), F(0), F(0)},
    {"float", "0x1F", F(0), F(0), F(0)},
    {"float", "abc", F(0), F(0), F(0)},
    {"float", "", F(0), F(0), F(0)},
    {"float", "inf", F(0), F(0), F(0)},
    {"float", "_1", F(0), F(0), F(0)},
    {"float", "_1.5", F(0), F(0), F(0)},
    {"float", "-_1.5", F(0), F(0), F(0)},
    {"float", "._5", F(0), F(0), F(0)},
    {"float", "_-1:30.5", F(0), F(0), F(0)},
    {"float", ".5_", F(0), F(0.5), F(0.5)},
    {"float", "1_", F(0), F(1), F(1)},
    {"merge", "<<", S, M, M},
    {"merge", "x", S, M, M},
    {"str", "1", S, S, S},
    {"str", "true", S, S, S},
    {"str", "~", S, S, S},
    {"str", "", S, S, S},
    {"str", "<<", S, S, S},
    {"timestamp", "2001-12-14", S, S, S},
    {"binary", "R0lGODlh", S, S, S},
    {"map", "1", S, S, S},
    {"INT", "1", S, S, S},
    {"integer", "1", S, S, S},
    {"in", "1", S, S, S},
    {"", "1", S, S, S},
};

INSTANTIATE_TEST_SUITE_P(Table, ResolverTagged,
                         ::testing::Combine(::testing::ValuesIn(kTagCases), ::testing::ValuesIn(kModes)));

TEST(ResolverTagged, NonCoreTagsGiveStrings) {
    for (const auto mode : kModes) {
        for (const char* tag : {"!", "!custom", "!int", "!include", "!<tag:yaml.org,2002:int>", "tag:yaml.org,2002",
                                "tag:example.com,2000:int", "!!!int"}) {
            for (const char* text : {"12", "true", "~", "", "<<", "1.5"}) {
                EXPECT_EQ(resolve(mode, text, true, std::string_view(tag)).kind, ResolvedKind::Str)
                    << tag << " '" << text << "'";
            }
        }
    }
}

// (mode, text, plain, tag) -> the pair of names, or nothing.
struct DiffCase {
    ResolveMode mode;
    std::string text;
    bool plain;
    std::optional<std::string> tag;
    std::optional<std::pair<std::string, std::string>> want;
};

class ResolverVersionDifference : public ::testing::TestWithParam<DiffCase> {};

TEST_P(ResolverVersionDifference, NamesBothReadings) {
    const auto& c = GetParam();
    std::optional<std::string_view> tag;
    if (c.tag) tag = *c.tag;
    const auto got = version_difference(c.mode, c.text, c.plain, tag);
    ASSERT_EQ(got.has_value(), c.want.has_value()) << "'" << c.text << "'";
    if (got) {
        EXPECT_STREQ(got->as_loaded, c.want->first.c_str()) << c.text;
        EXPECT_STREQ(got->as_yaml12, c.want->second.c_str()) << c.text;
    }
}

using Pair = std::pair<std::string, std::string>;
constexpr auto Y11 = ResolveMode::Yaml11;
constexpr auto PY = ResolveMode::PyYamlCompat;

INSTANTIATE_TEST_SUITE_P(
    Table, ResolverVersionDifference,
    ::testing::Values(DiffCase{Y11, "yes", true, std::nullopt, Pair{"bool", "str"}},
                      DiffCase{PY, "yes", true, std::nullopt, Pair{"bool", "str"}},
                      DiffCase{Y11, "Off", true, std::nullopt, Pair{"bool", "str"}},
                      DiffCase{Y11, "y", true, std::nullopt, Pair{"bool", "str"}},
                      DiffCase{PY, "y", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "012", true, std::nullopt, Pair{"int", "str"}},
                      DiffCase{Y11, "0b101", true, std::nullopt, Pair{"int", "str"}},
                      DiffCase{Y11, "1_000", true, std::nullopt, Pair{"int", "str"}},
                      DiffCase{Y11, "1:30", true, std::nullopt, Pair{"int", "str"}},
                      DiffCase{Y11, "1_000_000_000_000_000_000_000", true, std::nullopt, Pair{"int", "str"}},
                      DiffCase{Y11, "1:30.5", true, std::nullopt, Pair{"float", "str"}},
                      DiffCase{Y11, "07:30", true, std::nullopt, std::nullopt},
                      DiffCase{PY, "00:05:00", true, std::nullopt, std::nullopt},
                      DiffCase{PY, "07:30:00.5", true, std::nullopt, Pair{"float", "str"}},
                      DiffCase{Y11, "1_000.5", true, std::nullopt, Pair{"float", "str"}},
                      DiffCase{Y11, "1_", true, std::nullopt, Pair{"int", "str"}},
                      DiffCase{PY, ".5_", true, std::nullopt, Pair{"float", "str"}},
                      DiffCase{Y11, "_1", true, std::nullopt, std::nullopt},
                      DiffCase{PY, "-_1", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "_.5", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "._5", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "_1", true, std::string("!!int"), std::nullopt},
                      DiffCase{Y11, "0o17", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "0x1F", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "08", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "99999999999999999999", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "1.5", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "true", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "~", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "<<", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "hello", true, std::nullopt, std::nullopt},
                      DiffCase{ResolveMode::Yaml12, "yes", true, std::nullopt, std::nullopt},
                      DiffCase{Y11, "yes", false, std::nullopt, std::nullopt},
                      DiffCase{Y11, "yes", true, std::string("!!bool"), std::nullopt},
                      DiffCase{Y11, "012", false, std::string("!!int"), std::nullopt},
                      DiffCase{Y11, "x", true, std::string("!!merge"), Pair{"merge", "str"}},
                      DiffCase{Y11, "x", false, std::string("tag:yaml.org,2002:merge"), Pair{"merge", "str"}},
                      DiffCase{Y11, "yes", true, std::string("!!str"), std::nullopt},
                      DiffCase{Y11, "yes", true, std::string("!custom"), std::nullopt}));

TEST(ResolverVersionWarning, ExactText) {
    EXPECT_EQ(version_warning("yes", VersionDifference{"bool", "str"}, 2, 4),
              "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 3, column 5");
    EXPECT_EQ(version_warning("1:30", VersionDifference{"int", "str"}, 0, 0),
              "YAML 1.1 syntax '1:30' resolves as int in 1.1 but str in 1.2 at line 1, column 1");
    EXPECT_EQ(version_warning("it's", VersionDifference{"merge", "str"}, 4294967295U, 4294967294U),
              "YAML 1.1 syntax 'it's' resolves as merge in 1.1 but str in 1.2 at line 4294967296, column 4294967295");
}

TEST(ResolverVersionWarning, FromDifference) {
    const auto diff = version_difference(ResolveMode::Yaml11, "yes", true, std::nullopt);
    ASSERT_TRUE(diff.has_value());
    EXPECT_EQ(version_warning("yes", *diff, 2, 4),
              "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 3, column 5");
}

}  // namespace
}  // namespace torvex
