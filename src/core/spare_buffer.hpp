// A per-thread spare for the large buffers that every load fills and frees
// (the token list, its text arena, the decoded tape). Freed, a buffer of megabytes goes back
// to the kernel, and the next load pays a page fault for every 4 KiB of it
// again; kept as the thread's spare, it is reused as it is. Buffers above
// kMaxSpareBytes are freed as usual, so a thread keeps at most that much per
// element type.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace torvex {

inline constexpr std::size_t kMaxSpareBytes = std::size_t{16} << 20;

template <class Buffer>
class Spare {
public:
    // The thread's spare, emptied (capacity kept), or a new empty buffer.
    static Buffer take() noexcept {
        Buffer buffer = std::exchange(spare(), Buffer());
        buffer.clear();
        return buffer;
    }

    // Keeps `buffer` as the spare when it fits and beats the current one.
    // An empty one (a moved-from owner's) never does: it returns before
    // reaching the thread's storage, whose lookup costs a call in a shared library.
    static void give(Buffer& buffer) noexcept {
        if (buffer.capacity() == 0 || !fits(buffer.capacity())) return;
        Buffer& kept = spare();
        if (buffer.capacity() > kept.capacity()) {
            buffer.clear();
            kept.swap(buffer);
        }
    }

    static bool fits(std::size_t capacity) noexcept {
        return capacity * sizeof(typename Buffer::value_type) <= kMaxSpareBytes;
    }

private:
    static Buffer& spare() noexcept {
        thread_local Buffer kept;
        return kept;
    }
};

template <class T>
using SpareBuffer = Spare<std::vector<T>>;
// The scanner's text arena.
using SpareText = Spare<std::string>;

}  // namespace torvex
