#include <gtest/gtest.h>
#include <pthread.h>

#include <cstring>
#include <functional>
#include <stdexcept>

#include "core/stack_guard.hpp"

namespace torvex {
namespace {

// Each level keeps a 1 KiB frame alive, so 200,000 levels need ~200 MiB of
// stack: far beyond the default 8 MiB thread stack.
std::size_t deep(std::size_t depth) {
    return with_stack([&]() -> std::size_t {
        volatile char frame[1024];
        std::memset(const_cast<char*>(frame), static_cast<int>(depth & 0x7F), sizeof frame);
        if (depth == 0) return frame[0];
        return 1 + deep(depth - 1) + (frame[depth % sizeof frame] & 0);
    });
}

std::size_t max_segments_seen = 0;

void deep_throw(std::size_t depth) {
    with_stack([&] {
        volatile char frame[512];
        frame[0] = 1;
        if (stack_segment_depth() > max_segments_seen) max_segments_seen = stack_segment_depth();
        if (depth == 0) throw std::runtime_error("bottom reached");
        deep_throw(depth - 1);
        (void)frame[0];
    });
}

TEST(StackGuard, DeepRecursionOnMainThreadCompletes) {
    constexpr std::size_t kDepth = 200000;
    EXPECT_EQ(deep(kDepth), kDepth);
    EXPECT_EQ(stack_segment_depth(), 0u) << "all segments must be left on return";
}

TEST(StackGuard, ExceptionFromDeepInsideReachesCaller) {
    max_segments_seen = 0;
    try {
        deep_throw(100000);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "bottom reached");
    }
    EXPECT_GT(max_segments_seen, 1u) << "the walk must have crossed several segments";
    EXPECT_EQ(stack_segment_depth(), 0u);
}

TEST(StackGuard, ReferenceResultsSurviveTheSwitch) {
    int target = 7;
    // Force at least one switch by nesting far, then return a reference from the bottom.
    std::function<int&(int)> walk = [&](int n) -> int& {
        return with_stack([&]() -> int& {
            volatile char pad[2048];
            pad[0] = 0;
            (void)pad[0];
            return n == 0 ? target : walk(n - 1);
        });
    };
    int& r = walk(20000);
    EXPECT_EQ(&r, &target);
}

struct ThreadOutcome {
    std::size_t depth_reached = 0;
    bool caught = false;
};

void* small_stack_thread(void* arg) {
    auto* out = static_cast<ThreadOutcome*>(arg);
    out->depth_reached = deep(50000);
    try {
        deep_throw(20000);
    } catch (const std::runtime_error&) {
        out->caught = true;
    }
    return nullptr;
}

TEST(StackGuard, SmallStackThreadRecursesDeeply) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    ThreadOutcome outcome;
    ASSERT_EQ(pthread_create(&thread, &attr, small_stack_thread, &outcome), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(outcome.depth_reached, 50000u);
    EXPECT_TRUE(outcome.caught);
}

TEST(StackGuard, ShallowCallsStayOnTheThreadStack) {
    std::size_t seen = 99;
    with_stack([&] { seen = stack_segment_depth(); });
    EXPECT_EQ(seen, 0u);
    EXPECT_GT(stack_remaining(), kStackMargin);
}

}  // namespace
}  // namespace torvex
