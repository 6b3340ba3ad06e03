// The queue of tokens not yet released to the token list: a ring buffer with
// a power-of-two capacity. Tokens wait here while a simple-key candidate is
// pending, because the candidate may still insert MappingStart/Key in front
// of them; insertion shifts only the queued tail behind the insertion point.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "scanner/token.hpp"

namespace torvex::scan {

class TokenQueue {
public:
    TokenQueue() noexcept {}  // user-provided: the inline slots stay unfilled
    TokenQueue(const TokenQueue&) = delete;  // the slots may be its own
    TokenQueue& operator=(const TokenQueue&) = delete;

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    void push_back(const Token& t) {
        if (size_ == mask_ + 1) grow();
        slots_[(head_ + size_) & mask_] = t;
        ++size_;
    }

    // Inserts before the token at queue index `at` (0 = front; size() appends).
    void insert(std::size_t at, const Token& t) {
        if (size_ == mask_ + 1) grow();
        for (std::size_t i = size_; i > at; --i) slots_[(head_ + i) & mask_] = slots_[(head_ + i - 1) & mask_];
        slots_[(head_ + at) & mask_] = t;
        ++size_;
    }

    // Moves every queued token to the back of `out`, in order.
    template <class Vec>
    void drain_into(Vec& out) {
        if (size_ == 0) return;
        // At most two contiguous runs: head to the end of the slots, then the wrapped part.
        const std::size_t first = std::min(size_, mask_ + 1 - head_);
        out.insert(out.end(), slots_ + head_, slots_ + head_ + first);
        out.insert(out.end(), slots_, slots_ + (size_ - first));
        head_ = (head_ + size_) & mask_;
        size_ = 0;
    }

    const Token& operator[](std::size_t i) const noexcept { return slots_[(head_ + i) & mask_]; }

private:
    static constexpr std::size_t kInitial = 64;

    // Rare (only a long line behind a pending candidate): kept out of line.
    [[gnu::noinline]] void grow() {
        const std::size_t cap = (mask_ + 1) * 2;
        auto bigger = std::make_unique_for_overwrite<Token[]>(cap);
        for (std::size_t i = 0; i < size_; ++i) bigger[i] = slots_[(head_ + i) & mask_];
        heap_ = std::move(bigger);
        slots_ = heap_.get();
        head_ = 0;
        mask_ = cap - 1;
    }

    // The first slots are part of the queue: a scanner (one per load) then
    // allocates and fills nothing for them. A slot is written before it is read.
    Token inline_[kInitial];
    std::unique_ptr<Token[]> heap_;
    Token* slots_ = inline_;
    std::size_t mask_ = kInitial - 1;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace torvex::scan
