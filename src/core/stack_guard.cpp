#include "core/stack_guard.hpp"

#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TORVEX_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TORVEX_ASAN 1
#endif

#ifdef TORVEX_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace torvex {

namespace {

struct ThreadStack {
    char* low = nullptr;   // lowest usable address of the current stack
    std::size_t segments = 0;
};

thread_local ThreadStack t_stack;

char* thread_stack_low() noexcept {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return nullptr;
    void* addr = nullptr;
    std::size_t size = 0;
    pthread_attr_getstack(&attr, &addr, &size);
    std::size_t guard = 0;
    pthread_attr_getguardsize(&attr, &guard);
    pthread_attr_destroy(&attr);
    // The guard area sits at the low end of the reported range on Linux.
    return static_cast<char*>(addr) + guard;
}

std::size_t page_size() noexcept {
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

// One mapped segment: [guard page][usable stack][guard page].
class Segment {
public:
    Segment() {
        const std::size_t page = page_size();
        usable_ = (kSegmentSize + page - 1) / page * page;
        total_ = usable_ + 2 * page;
        void* p = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        base_ = static_cast<char*>(p);
        mprotect(base_, page, PROT_NONE);
        mprotect(base_ + page + usable_, page, PROT_NONE);
    }
    ~Segment() { munmap(base_, total_); }
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;

    char* low() const noexcept { return base_ + page_size(); }
    std::size_t size() const noexcept { return usable_; }

private:
    char* base_ = nullptr;
    std::size_t usable_ = 0;
    std::size_t total_ = 0;
};

struct Trampoline {
    void (*fn)(void*) noexcept;
    void* ctx;
    ucontext_t caller;
    ucontext_t callee;
#ifdef TORVEX_ASAN
    void* fake_stack = nullptr;
    const void* caller_bottom = nullptr;
    std::size_t caller_size = 0;
#endif
};

// makecontext passes int arguments only: split the pointer in two halves.
void segment_entry(unsigned hi, unsigned lo) noexcept {
    auto* t = reinterpret_cast<Trampoline*>((static_cast<std::uintptr_t>(hi) << 32) | lo);
#ifdef TORVEX_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &t->caller_bottom, &t->caller_size);
#endif
    t->fn(t->ctx);
#ifdef TORVEX_ASAN
    // This fiber is finished: passing nullptr lets ASan drop its fake stack.
    __sanitizer_start_switch_fiber(nullptr, t->caller_bottom, t->caller_size);
#endif
    // Returning resumes uc_link (the caller).
}

}  // namespace

namespace stack_detail {

std::size_t remaining() noexcept {
    if (t_stack.low == nullptr) t_stack.low = thread_stack_low();
    if (t_stack.low == nullptr) return SIZE_MAX;  // unknown: never switch
    char* sp = static_cast<char*>(__builtin_frame_address(0));
    return sp > t_stack.low ? static_cast<std::size_t>(sp - t_stack.low) : 0;
}

// Switches to `segment`, runs fn(ctx) there and switches back. Kept apart
// from the ownership logic: swapcontext returns twice, so this frame holds no
// object with a destructor.
[[gnu::noinline]] void switch_and_run(Segment& segment, void (*fn)(void*) noexcept, void* ctx) {
    Trampoline t{};
    t.fn = fn;
    t.ctx = ctx;
    if (getcontext(&t.callee) != 0) throw std::bad_alloc();
    t.callee.uc_stack.ss_sp = segment.low();
    t.callee.uc_stack.ss_size = segment.size();
    t.callee.uc_link = &t.caller;
    const auto bits = reinterpret_cast<std::uintptr_t>(&t);
    makecontext(&t.callee, reinterpret_cast<void (*)()>(&segment_entry), 2, static_cast<unsigned>(bits >> 32),
                static_cast<unsigned>(bits & 0xFFFFFFFFu));

    const ThreadStack saved = t_stack;
    t_stack.low = segment.low();
    t_stack.segments = saved.segments + 1;
#ifdef TORVEX_ASAN
    __sanitizer_start_switch_fiber(&t.fake_stack, segment.low(), segment.size());
#endif
    swapcontext(&t.caller, &t.callee);
#ifdef TORVEX_ASAN
    __sanitizer_finish_switch_fiber(t.fake_stack, nullptr, nullptr);
#endif
    t_stack = saved;
}

// One spare segment per thread, so a walk that hovers at the margin and
// switches for many siblings maps memory once rather than per switch.
thread_local std::unique_ptr<Segment> t_spare;

void run_on_segment(void (*fn)(void*) noexcept, void* ctx) {
    std::unique_ptr<Segment> segment = t_spare ? std::move(t_spare) : std::make_unique<Segment>();
    switch_and_run(*segment, fn, ctx);
    if (!t_spare) t_spare = std::move(segment);
}

}  // namespace stack_detail

std::size_t stack_segment_depth() noexcept { return t_stack.segments; }

}  // namespace torvex
