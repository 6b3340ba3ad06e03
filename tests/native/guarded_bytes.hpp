// Test buffers that end exactly where an inaccessible page begins, so that
// any read (or write) past their end faults in every build, not only under
// AddressSanitizer.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string_view>

namespace torvex::testing_guard {

template <class T = unsigned char>
class Guarded {
public:
    explicit Guarded(std::size_t count) : count_(count) {
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t bytes = count * sizeof(T);
        span_ = (bytes + page - 1) / page * page + page;
        void* base = mmap(nullptr, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return;
        base_ = static_cast<unsigned char*>(base);
        mprotect(base_ + span_ - page, page, PROT_NONE);
        data_ = reinterpret_cast<T*>(base_ + span_ - page - bytes);
    }
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;
    ~Guarded() {
        if (base_ != nullptr) munmap(base_, span_);
    }

    bool ok() const noexcept { return data_ != nullptr; }
    T* data() noexcept { return data_; }
    std::size_t size() const noexcept { return count_; }

private:
    unsigned char* base_ = nullptr;
    std::size_t span_ = 0;
    T* data_ = nullptr;
    std::size_t count_;
};

// The bytes of `text`, ending at a guard page.
class GuardedText : public Guarded<unsigned char> {
public:
    explicit GuardedText(std::string_view text) : Guarded(text.size()) {
        if (ok() && !text.empty()) std::memcpy(data(), text.data(), text.size());
    }
    std::string_view view() noexcept { return {reinterpret_cast<const char*>(data()), size()}; }
};

}  // namespace torvex::testing_guard
