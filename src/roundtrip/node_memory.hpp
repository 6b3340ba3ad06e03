// Memory for the children vectors of round-trip nodes.
//
// A read-only load (annotated or composed, with or without directives)
// builds a tree of millions of bytes, converts it and frees it within the
// call. Taken from the heap afresh each time, that memory is handed back to
// the kernel when the tree is freed and faulted in page by page on the next
// load. Such loads open a NodeArenaSession; while one is open on a thread,
// the compositions that keep no comments (only read-only loads make those)
// take their children vectors from the thread's arena: bump allocation, no
// release per vector, the arena's blocks kept for the thread's next load up
// to a bound. Every other tree (round-trip documents, edits, clones) takes
// its vectors from the heap as before.
//
// Each vector carries a 16-byte mark saying where it came from, so a vector
// is released correctly on any thread. A tree built in an arena must be
// freed before the session that covered it closes: the loads that open
// sessions free their trees within the call.
#pragma once

#include <cstddef>
#include <new>

namespace torvex::rt {

namespace node_memory {
void* allocate(std::size_t bytes);
void release(void* memory) noexcept;
}  // namespace node_memory

// Stateless: every instance allocates the same way, so vectors move and
// swap freely between trees.
template <class T>
struct NodeAllocator {
    using value_type = T;

    NodeAllocator() noexcept = default;
    template <class U>
    NodeAllocator(const NodeAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / 2 / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(node_memory::allocate(n * sizeof(T)));
    }
    void deallocate(T* memory, std::size_t) noexcept { node_memory::release(memory); }

    friend bool operator==(const NodeAllocator&, const NodeAllocator&) noexcept { return true; }
};

// Opened by a load whose composed trees all die before it closes; sessions
// nest (a tag handler may load again), and the arena is reused once the
// outermost one closes.
class NodeArenaSession {
public:
    NodeArenaSession() noexcept;
    ~NodeArenaSession();
    NodeArenaSession(const NodeArenaSession&) = delete;
    NodeArenaSession& operator=(const NodeArenaSession&) = delete;
};

// Held by the composer while it builds a tree: with `wanted` and a session
// open on the thread, the tree's vectors come from the arena.
class ArenaComposition {
public:
    explicit ArenaComposition(bool wanted) noexcept;
    ~ArenaComposition();
    ArenaComposition(const ArenaComposition&) = delete;
    ArenaComposition& operator=(const ArenaComposition&) = delete;

private:
    bool previous_;
};

}  // namespace torvex::rt
