// The token queue: a ring buffer whose insertion shifts only the queued tail,
// also after its head has wrapped around and while it grows.
#include <gtest/gtest.h>

#include <vector>

#include "scanner/token_queue.hpp"

namespace torvex {
namespace {

Token numbered(std::uint64_t n) {
    Token t{};
    t.offset = n;
    return t;
}

std::vector<std::uint64_t> offsets(const std::vector<Token>& tokens) {
    std::vector<std::uint64_t> out;
    for (const Token& t : tokens) out.push_back(t.offset);
    return out;
}

TEST(ScannerQueue, InsertsAfterWrapAroundAndGrowth) {
    scan::TokenQueue q;
    std::vector<Token> out;
    // Move the head near the end of the 64 initial slots so later pushes wrap.
    for (std::uint64_t i = 0; i < 60; ++i) q.push_back(numbered(i));
    q.drain_into(out);
    ASSERT_EQ(out.size(), 60u);
    out.clear();

    for (std::uint64_t i = 0; i < 10; ++i) q.push_back(numbered(100 + i));  // slots 60..63, then 0..5
    q.insert(0, numbered(1));
    q.insert(6, numbered(2));   // just behind the wrap point
    q.insert(12, numbered(3));  // at the end
    EXPECT_EQ(q.size(), 13u);
    EXPECT_EQ(q[6].offset, 2u);
    q.drain_into(out);
    EXPECT_EQ(offsets(out), (std::vector<std::uint64_t>{1, 100, 101, 102, 103, 104, 2, 105, 106, 107, 108, 109, 3}));
    EXPECT_TRUE(q.empty());

    // Growth keeps the order, including an insertion in front of everything.
    out.clear();
    for (std::uint64_t i = 0; i < 200; ++i) q.push_back(numbered(i));
    q.insert(0, numbered(999));
    q.insert(100, numbered(998));
    q.drain_into(out);
    ASSERT_EQ(out.size(), 202u);
    EXPECT_EQ(out[0].offset, 999u);
    EXPECT_EQ(out[1].offset, 0u);
    EXPECT_EQ(out[100].offset, 998u);
    EXPECT_EQ(out[101].offset, 99u);
    EXPECT_EQ(out[201].offset, 199u);
}

}  // namespace
}  // namespace torvex
