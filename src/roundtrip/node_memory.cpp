#include "roundtrip/node_memory.hpp"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace torvex::rt {

namespace {

// The mark before each vector; 16 bytes keep the vector's own alignment.
constexpr std::size_t kMark = 16;
constexpr std::uint64_t kFromHeap = 0x48454150'4e4f4445ULL;
constexpr std::uint64_t kFromArena = 0x4152454e'414e4f44ULL;

constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
// What a thread keeps between loads; a larger tree's extra blocks are freed.
constexpr std::size_t kKeptBytes = std::size_t{32} << 20;

struct Block {
    std::unique_ptr<std::byte[]> bytes;
    std::size_t size = 0;
};

struct Arena {
    std::vector<Block> blocks;
    std::size_t current = 0;  // the block being filled
    std::size_t used = 0;     // bytes of it taken
    unsigned sessions = 0;
    bool composing = false;

    void* take(std::size_t bytes) {
        while (current < blocks.size() && used + bytes > blocks[current].size) {
            ++current;
            used = 0;
        }
        if (current == blocks.size()) {
            const std::size_t size = bytes > kBlockBytes ? bytes : kBlockBytes;
            blocks.push_back(Block{std::unique_ptr<std::byte[]>(new std::byte[size]), size});
            used = 0;
        }
        std::byte* at = blocks[current].bytes.get() + used;
        used += bytes;
        return at;
    }

    // Every tree of the session is gone: the blocks are free again.
    void reset() noexcept {
        std::size_t kept = 0, keep = 0;
        while (keep < blocks.size() && kept + blocks[keep].size <= kKeptBytes) kept += blocks[keep++].size;
        blocks.resize(keep);
        current = 0;
        used = 0;
    }
};

Arena& arena() noexcept {
    thread_local Arena a;
    return a;
}

std::size_t rounded(std::size_t bytes) noexcept { return (bytes + kMark - 1) / kMark * kMark; }

}  // namespace

namespace node_memory {

void* allocate(std::size_t bytes) {
    Arena& a = arena();
    std::byte* memory;
    std::uint64_t mark;
    if (a.composing) {
        memory = static_cast<std::byte*>(a.take(kMark + rounded(bytes)));
        mark = kFromArena;
    } else {
        memory = static_cast<std::byte*>(::operator new(kMark + bytes));
        mark = kFromHeap;
    }
    std::memcpy(memory, &mark, sizeof mark);
    return memory + kMark;
}

void release(void* memory) noexcept {
    if (memory == nullptr) return;
    std::byte* start = static_cast<std::byte*>(memory) - kMark;
    std::uint64_t mark;
    std::memcpy(&mark, start, sizeof mark);
    if (mark == kFromHeap) ::operator delete(start);
    // Arena memory goes back with its session.
}

}  // namespace node_memory

NodeArenaSession::NodeArenaSession() noexcept { ++arena().sessions; }

NodeArenaSession::~NodeArenaSession() {
    Arena& a = arena();
    if (--a.sessions == 0) a.reset();
}

ArenaComposition::ArenaComposition(bool wanted) noexcept : previous_(arena().composing) {
    Arena& a = arena();
    a.composing = wanted && a.sessions > 0;
}

ArenaComposition::~ArenaComposition() { arena().composing = previous_; }

}  // namespace torvex::rt
