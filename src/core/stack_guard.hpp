// Deep recursion without stack overflow. Every recursive walk calls
// with_stack(f): when less than kStackMargin bytes of native stack remain, f
// runs on a freshly mapped segment (kSegmentSize, guard pages at both ends)
// instead of the current stack, so only the documented nesting limits bound
// depth. A C++ exception thrown by f is caught on the segment and rethrown
// after switching back: nothing unwinds across a stack switch.
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace torvex {

inline constexpr std::size_t kStackMargin = 102400;
inline constexpr std::size_t kSegmentSize = 32u << 20;

namespace stack_detail {

// Bytes of stack left below the caller's frame on the current stack
// (the thread's own stack or a segment this thread switched to).
std::size_t remaining() noexcept;

// Runs fn(ctx) on a new segment and returns when it is done. fn must not throw.
void run_on_segment(void (*fn)(void*) noexcept, void* ctx);

}  // namespace stack_detail

// Bytes of native stack left on the current stack (for tests and diagnostics).
inline std::size_t stack_remaining() noexcept { return stack_detail::remaining(); }

// Number of segments this thread is currently running on (0 on its own stack).
std::size_t stack_segment_depth() noexcept;

template <class F>
decltype(auto) with_stack(F&& f) {
    if (stack_detail::remaining() >= kStackMargin) [[likely]]
        return std::forward<F>(f)();

    using R = std::invoke_result_t<F&>;
    struct Context {
        F* f;
        std::exception_ptr error;
        std::conditional_t<std::is_void_v<R>, bool, std::optional<std::conditional_t<std::is_reference_v<R>, std::remove_reference_t<R>*, R>>> out{};
    } ctx{&f, nullptr};

    stack_detail::run_on_segment(
        [](void* raw) noexcept {
            auto* c = static_cast<Context*>(raw);
            try {
                if constexpr (std::is_void_v<R>) {
                    (*c->f)();
                    c->out = true;
                } else if constexpr (std::is_reference_v<R>) {
                    c->out.emplace(&(*c->f)());
                } else {
                    c->out.emplace((*c->f)());
                }
            } catch (...) {
                c->error = std::current_exception();
            }
        },
        &ctx);

    if (ctx.error) std::rethrow_exception(ctx.error);
    if constexpr (std::is_void_v<R>) {
        return;
    } else if constexpr (std::is_reference_v<R>) {
        return static_cast<R>(**ctx.out);
    } else {
        return R(std::move(*ctx.out));
    }
}

// For recursive walks that know their nesting level and use little stack per
// level: only every kStackCheckStride-th level goes through with_stack, so
// most collections skip the stack probe. The levels in between need a few
// KiB at most, far below kStackMargin.
inline constexpr std::size_t kStackCheckStride = 8;

template <class F>
decltype(auto) with_stack_at(std::size_t depth, F&& f) {
    if (depth % kStackCheckStride != 0) return std::forward<F>(f)();
    return with_stack(std::forward<F>(f));
}

}  // namespace torvex
