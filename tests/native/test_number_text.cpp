#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

#include "encode/number_text.hpp"
#include "xorshift.hpp"

namespace torvex {
namespace {

std::string written(std::int64_t v) {
    char buf[32];
    return std::string(buf, number_text_detail::write_int(v, buf));
}

std::string expected(std::int64_t v) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// Every digit count on both sides of each power of ten (where the writer
// changes groups), the ends of the range, and random values of every width.
TEST(IntegerText, MatchesTheLibraryConversion) {
    std::uint64_t power = 1;
    for (int k = 0; k <= 19; ++k, power *= 10) {
        for (std::int64_t delta : {-2, -1, 0, 1, 2}) {
            const auto v = static_cast<std::int64_t>(power) + delta;
            if (v < 0 && k == 19) continue;  // 10^19 is past the range
            ASSERT_EQ(written(v), expected(v));
            ASSERT_EQ(written(-v), expected(-v));
        }
    }
    for (std::int64_t v : {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(),
                           std::int64_t{0}, std::int64_t{-1}}) {
        ASSERT_EQ(written(v), expected(v));
    }
    torvex_test::XorShift random{0x853C49E6748FEA9Bull};
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t state = random.next();
        const auto v = static_cast<std::int64_t>(state >> (state % 64));  // every width, both signs
        ASSERT_EQ(written(v), expected(v));
    }
}

}  // namespace
}  // namespace torvex
