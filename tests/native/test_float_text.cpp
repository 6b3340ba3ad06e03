#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "encode/float_text.hpp"
#include "xorshift.hpp"

namespace torvex {
namespace {

std::string yaml_text(double d) {
    char buf[kFloatTextMax];
    return std::string(buf, yaml_float_text(d, buf));
}
std::string json_text(double d) {
    char buf[kFloatTextMax];
    return std::string(buf, json_float_text(d, buf));
}

struct FloatCase {
    double value;
    const char* yaml;
    const char* json;
};

class FloatText : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatText, MatchesBothSpellings) {
    const FloatCase& c = GetParam();
    EXPECT_EQ(yaml_text(c.value), c.yaml);
    if (c.json) {
        EXPECT_EQ(json_text(c.value), c.json);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FloatText,
    ::testing::Values(FloatCase{1.0, "1.0", "1.0"}, FloatCase{0.5, "0.5", "0.5"}, FloatCase{-0.0, "-0.0", "-0.0"},
                      FloatCase{0.0, "0.0", "0.0"}, FloatCase{0.1, "0.1", "0.1"},
                      FloatCase{1e15, "1000000000000000.0", "1000000000000000.0"},
                      FloatCase{1e16, "1.0e+16", "10000000000000000.0"},
                      FloatCase{0.0001, "0.0001", "0.0001"}, FloatCase{0.00001, "1.0e-05", "0.00001"},
                      FloatCase{1.5e-7, "1.5e-07", "0.00000015"}, FloatCase{-2.5, "-2.5", "-2.5"},
                      FloatCase{123456.789, "123456.789", "123456.789"},
                      FloatCase{1.2345678901234567e15, "1234567890123456.8", "1234567890123456.8"},
                      FloatCase{1.7976931348623157e308, "1.7976931348623157e+308", nullptr},
                      FloatCase{1e100, "1.0e+100", nullptr},
                      FloatCase{std::numeric_limits<double>::quiet_NaN(), ".nan", "null"},
                      FloatCase{std::numeric_limits<double>::infinity(), ".inf", "null"},
                      FloatCase{-std::numeric_limits<double>::infinity(), "-.inf", "null"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(FloatTextLong, ExponentsBeyondRangeStaySci) {
    EXPECT_EQ(yaml_text(1.2345678901234568e+300), "1.2345678901234568e+300");
    EXPECT_EQ(yaml_text(-1e-300), "-1.0e-300");
    EXPECT_EQ(yaml_text(5e-324), "5.0e-324");  // smallest subnormal
    EXPECT_EQ(yaml_text(2.2250738585072014e-308), "2.2250738585072014e-308");
}

TEST(FloatTextLong, JsonWritesWithoutExponent) {
    const std::string big = json_text(1e300);
    EXPECT_EQ(big, "1" + std::string(300, '0') + ".0");
    const std::string tiny = json_text(5e-324);
    EXPECT_EQ(tiny, "0." + std::string(323, '0') + "5");
    EXPECT_EQ(json_text(1e100), "1" + std::string(100, '0') + ".0");
    EXPECT_EQ(json_text(1.7976931348623157e308), "17976931348623157" + std::string(292, '0') + ".0");
    EXPECT_EQ(json_text(-std::numeric_limits<double>::max()).size(), 312u);
}

// Every spelling must read back to the very same double.
TEST(FloatTextLong, RoundTripsBitForBit) {
    torvex_test::XorShift random{0x9E3779B97F4A7C15ull};
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t bits = random.next();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d)) continue;
        for (const std::string& text : {yaml_text(d), json_text(d)}) {
            const double back = std::strtod(text.c_str(), nullptr);
            ASSERT_EQ(std::memcmp(&back, &d, sizeof d), 0) << text;
            ASSERT_NE(text.find('.'), std::string::npos) << text;
        }
    }
}

// The spellings from the general shortest-digits routine of the library
// (std::to_chars), for comparison with the fast path of few decimals.
std::string reference_json_text(double d) {
    char sci[40];
    const auto res = std::to_chars(sci, sci + sizeof sci, std::fabs(d), std::chars_format::scientific);
    std::string digits;
    const char* p = sci;
    digits += *p++;
    if (*p == '.') {
        ++p;
        while (*p != 'e') digits += *p++;
    }
    ++p;
    const bool negative_exponent = *p++ == '-';
    int e = 0;
    while (p < res.ptr) e = e * 10 + (*p++ - '0');
    if (negative_exponent) e = -e;
    std::string out = std::signbit(d) ? "-" : "";
    if (e < 0) {
        out += "0." + std::string(static_cast<std::size_t>(-e - 1), '0') + digits;
    } else if (static_cast<int>(digits.size()) <= e + 1) {
        out += digits + std::string(static_cast<std::size_t>(e + 1) - digits.size(), '0') + ".0";
    } else {
        out += digits.substr(0, static_cast<std::size_t>(e + 1)) + "." + digits.substr(static_cast<std::size_t>(e + 1));
    }
    return out;
}

// Numbers with few decimals take a fast path; it must spell them exactly as
// the general routine does, next to values one step away from them.
TEST(FloatTextLong, FewDecimalsMatchTheGeneralRoutine) {
    torvex_test::XorShift random{0x2545F4914F6CDD1Dull};
    const double scales[] = {1, 10, 100, 1e3, 1e4, 1e6, 1e9, 1e12, 1e15, 1e17, 1e19};
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t bits = random.next();
        const double mantissa = static_cast<double>(bits % 100000000000ull) * ((bits >> 63) ? -1 : 1);
        double d = mantissa / scales[(bits >> 40) % std::size(scales)];
        if (bits & 0x100) d = std::nextafter(d, (bits & 0x200) ? 1e300 : -1e300);
        ASSERT_EQ(json_text(d), reference_json_text(d)) << d;
    }
    for (double d : {0.1, 0.2, 0.3, 1.0 / 3, 2.0 / 3, 1e-17, 1.5e-17, 123e-17, 0x1p50, 0x1p50 - 1, 1125899906842623.5,
                     9007199254740993.0, 4.35, 0.07, 5e-324, 1e-5, 99999999999999.99}) {
        ASSERT_EQ(json_text(d), reference_json_text(d)) << d;
        ASSERT_EQ(json_text(-d), reference_json_text(-d)) << d;
    }
}

// The JSON spelling is the general routine's for every kind of double: any
// bit pattern (subnormals and the extreme exponents among them), integral
// values, values a few decimals long and their neighbours, both zeros.
TEST(FloatTextLong, JsonMatchesTheGeneralRoutineEverywhere) {
    torvex_test::XorShift random{0x9E3779B97F4A7C15ull};
    for (int i = 0; i < 300000; ++i) {
        const std::uint64_t bits = random.next();
        double d;
        switch (i % 4) {
            case 0: std::memcpy(&d, &bits, sizeof d); break;
            case 1: d = static_cast<double>(static_cast<std::int64_t>(bits) >> (bits % 64)); break;
            case 2: d = static_cast<double>(static_cast<std::int64_t>(bits >> 20) % 100000000) / 1e4; break;
            default: {
                const std::uint64_t subnormal = bits & ((1ull << 52) - 1) & ~(~0ull << (bits % 53));
                std::memcpy(&d, &subnormal, sizeof d);
                if (bits >> 63) d = -d;
            }
        }
        if (!std::isfinite(d)) continue;
        if (i % 8 >= 6) d = std::nextafter(d, (bits & 1) ? 1e308 : -1e308);
        ASSERT_EQ(json_text(d), reference_json_text(d)) << d;
    }
    EXPECT_EQ(json_text(0.0), "0.0");
    EXPECT_EQ(json_text(-0.0), "-0.0");
    EXPECT_EQ(json_text(-1200.0), "-1200.0");
    EXPECT_EQ(json_text(0.05), "0.05");
}

}  // namespace
}  // namespace torvex
