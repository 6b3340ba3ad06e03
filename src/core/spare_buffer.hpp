// A per-thread spare for the large vectors that every load fills and frees
// (the token list, the decoded tape). Freed, a buffer of megabytes goes back
// to the kernel, and the next load pays a page fault for every 4 KiB of it
// again; kept as the thread's spare, it is reused as it is. Buffers above
// kMaxSpareBytes are freed as usual, so a thread keeps at most that much per
// element type.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace torvex {

inline constexpr std::size_t kMaxSpareBytes = std::size_t{16} << 20;

template <class T>
class SpareBuffer {
public:
    // The thread's spare, emptied (capacity kept), or a new empty vector.
    static std::vector<T> take() noexcept {
        std::vector<T> buffer = std::exchange(spare(), std::vector<T>());
        buffer.clear();
        return buffer;
    }

    // Keeps `buffer` as the spare when it fits and beats the current one.
    static void give(std::vector<T>& buffer) noexcept {
        if (!fits(buffer.capacity())) return;
        std::vector<T>& kept = spare();
        if (buffer.capacity() > kept.capacity()) {
            buffer.clear();
            kept.swap(buffer);
        }
    }

    static bool fits(std::size_t capacity) noexcept { return capacity * sizeof(T) <= kMaxSpareBytes; }

private:
    static std::vector<T>& spare() noexcept {
        thread_local std::vector<T> kept;
        return kept;
    }
};

}  // namespace torvex
