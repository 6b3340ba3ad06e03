// Number text: digit strings with overflow limits, special floats, and
// correctly rounded decimal floats with range errors settled.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "resolver/number_text.hpp"

namespace torvex::number_text {
namespace {

struct UnsignedCase {
    std::string text;
    unsigned base;
    std::uint64_t limit;
    bool skip_underscores;
    std::optional<std::uint64_t> want;
};

class ResolverUnsigned : public ::testing::TestWithParam<UnsignedCase> {};

TEST_P(ResolverUnsigned, ParsesWithinLimit) {
    const auto& c = GetParam();
    std::uint64_t out = 12345;
    const bool ok = parse_unsigned(c.text, c.base, c.limit, c.skip_underscores, out);
    ASSERT_EQ(ok, c.want.has_value()) << c.text;
    if (ok) {
        EXPECT_EQ(out, *c.want) << c.text;
    }
}

constexpr std::uint64_t kU64 = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kI64 = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

INSTANTIATE_TEST_SUITE_P(
    Table, ResolverUnsigned,
    ::testing::Values(UnsignedCase{"18446744073709551615", 10, kU64, false, kU64},
                      UnsignedCase{"18446744073709551616", 10, kU64, false, std::nullopt},
                      UnsignedCase{"184467440737095516150", 10, kU64, false, std::nullopt},
                      UnsignedCase{"9223372036854775807", 10, kI64, false, kI64},
                      UnsignedCase{"9223372036854775808", 10, kI64, false, std::nullopt},
                      UnsignedCase{"ffffFFFFffffFFFF", 16, kU64, false, kU64},
                      UnsignedCase{"1ffffffffffffffff", 16, kU64, false, std::nullopt},
                      UnsignedCase{"0000000000000000000000000000000000001", 10, kI64, false, 1},
                      UnsignedCase{"59", 10, 59, false, 59},
                      UnsignedCase{"60", 10, 59, false, std::nullopt},
                      UnsignedCase{"0059", 10, 59, false, 59},
                      UnsignedCase{"", 10, kU64, false, std::nullopt},
                      UnsignedCase{"_", 10, kU64, true, std::nullopt},
                      UnsignedCase{"1_2", 10, kU64, true, 12},
                      UnsignedCase{"1_2", 10, kU64, false, std::nullopt},
                      UnsignedCase{"17", 8, kU64, false, 15},
                      UnsignedCase{"18", 8, kU64, false, std::nullopt},
                      UnsignedCase{"101", 2, kU64, false, 5},
                      UnsignedCase{"102", 2, kU64, false, std::nullopt},
                      UnsignedCase{"1g", 16, kU64, false, std::nullopt},
                      UnsignedCase{"+1", 10, kU64, false, std::nullopt},
                      UnsignedCase{"-1", 10, kU64, false, std::nullopt}));

struct FloatCase {
    std::string text;
    bool skip_underscores;
    bool require_point_or_exponent;
    std::optional<double> want;
};

class ResolverDecimalFloat : public ::testing::TestWithParam<FloatCase> {};

TEST_P(ResolverDecimalFloat, ParsesCorrectlyRounded) {
    const auto& c = GetParam();
    double out = 42.0;
    const bool ok = parse_decimal_float(c.text, c.skip_underscores, c.require_point_or_exponent, out);
    ASSERT_EQ(ok, c.want.has_value()) << c.text;
    if (ok) {
        EXPECT_EQ(out, *c.want) << c.text;
        EXPECT_EQ(std::signbit(out), std::signbit(*c.want)) << c.text;
    }
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMin = std::numeric_limits<double>::denorm_min();
const std::string k400Zeros(400, '0');

INSTANTIATE_TEST_SUITE_P(
    Table, ResolverDecimalFloat,
    ::testing::Values(
        FloatCase{"1", false, false, 1.0}, FloatCase{"1", false, true, std::nullopt},
        FloatCase{"+1.5", false, true, 1.5}, FloatCase{"-1.5", false, true, -1.5}, FloatCase{"1.", false, true, 1.0},
        FloatCase{".5", false, true, 0.5}, FloatCase{"1e5", false, true, 1e5}, FloatCase{"1E+05", false, true, 1e5},
        FloatCase{"-0", false, false, -0.0},
        // range: overflow gives infinity, underflow zero, both signed
        FloatCase{"1.7976931348623157e308", false, true, std::numeric_limits<double>::max()},
        FloatCase{"1.7976931348623159e308", false, true, kInf},
        FloatCase{"-1.7976931348623159e308", false, true, -kInf},
        FloatCase{"4.9406564584124654e-324", false, true, kMin}, FloatCase{"2.5e-324", false, true, kMin},
        FloatCase{"2.4e-324", false, true, 0.0}, FloatCase{"-2.4e-324", false, true, -0.0},
        FloatCase{"1e99999999999999999999999", false, true, kInf},
        FloatCase{"1e-99999999999999999999999", false, true, 0.0},
        FloatCase{"0e99999999999999999999999", false, true, 0.0},
        FloatCase{"1" + k400Zeros + ".", false, true, kInf},
        FloatCase{"0." + k400Zeros + "1", false, true, 0.0},
        FloatCase{"0." + k400Zeros + "1e400", false, true, 0.1},
        FloatCase{"1" + k400Zeros + "e-400", false, true, 1.0},
        // ties round to even; a digit far beyond the tie breaks it
        FloatCase{"9007199254740993", false, false, 9007199254740992.0},
        FloatCase{"9007199254740993." + std::string(900, '0') + "1", false, true, 9007199254740994.0},
        FloatCase{"9_007_199_254_740_993." + std::string(900, '0') + "1", true, true, 9007199254740994.0},
        // underscores anywhere, only when allowed
        FloatCase{"_1_._5_e_-_3_", true, true, 1.5e-3}, FloatCase{"_+1.5", true, true, 1.5},
        FloatCase{"1_0.5", false, true, std::nullopt}, FloatCase{"_", true, false, std::nullopt},
        FloatCase{"_._", true, false, std::nullopt},
        // malformed
        FloatCase{"", false, false, std::nullopt}, FloatCase{"+", false, false, std::nullopt},
        FloatCase{".", false, false, std::nullopt}, FloatCase{"e5", false, false, std::nullopt},
        FloatCase{"1e", false, false, std::nullopt}, FloatCase{"1e-", false, false, std::nullopt},
        FloatCase{"1..5", false, false, std::nullopt}, FloatCase{"1.5.", false, false, std::nullopt},
        FloatCase{"+-1", false, false, std::nullopt}, FloatCase{"--1", false, false, std::nullopt},
        FloatCase{" 1", false, false, std::nullopt}, FloatCase{"1 ", false, false, std::nullopt},
        FloatCase{"inf", false, false, std::nullopt}, FloatCase{"nan", false, false, std::nullopt},
        FloatCase{"0x10", false, false, std::nullopt}, FloatCase{"1e5.5", false, false, std::nullopt},
        FloatCase{"1e+-5", false, false, std::nullopt}));

TEST(ResolverSpecialFloat, OnlyTheFixedSpellings) {
    double d = 0;
    for (const char* t : {".inf", ".Inf", ".INF", "+.inf", "+.Inf", "+.INF"}) {
        ASSERT_TRUE(parse_special_float(t, d)) << t;
        EXPECT_EQ(d, kInf) << t;
    }
    for (const char* t : {"-.inf", "-.Inf", "-.INF"}) {
        ASSERT_TRUE(parse_special_float(t, d)) << t;
        EXPECT_EQ(d, -kInf) << t;
    }
    for (const char* t : {".nan", ".NaN", ".NAN"}) {
        ASSERT_TRUE(parse_special_float(t, d)) << t;
        EXPECT_TRUE(std::isnan(d)) << t;
    }
    for (const char* t : {"", ".", "inf", ".iNF", ".InF", ".nAn", ".Nan", "+.nan", "-.nan", ".inf ", "..inf",
                          "+-.inf", ".infinity", "-inf"}) {
        EXPECT_FALSE(parse_special_float(t, d)) << t;
    }
}

}  // namespace
}  // namespace torvex::number_text
