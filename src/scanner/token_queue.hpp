// The queue of tokens not yet released to the token list: a ring buffer with
// a power-of-two capacity. Tokens wait here while a simple-key candidate is
// pending, because the candidate may still insert MappingStart/Key in front
// of them; insertion shifts only the queued tail behind the insertion point.
#pragma once

#include <cstddef>
#include <memory>

#include "scanner/token.hpp"

namespace torvex::scan {

class TokenQueue {
public:
    TokenQueue() : slots_(std::make_unique<Token[]>(kInitial)), mask_(kInitial - 1) {}

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
        for (std::size_t i = 0; i < size_; ++i) out.push_back(slots_[(head_ + i) & mask_]);
        head_ = (head_ + size_) & mask_;
        size_ = 0;
    }

    const Token& operator[](std::size_t i) const noexcept { return slots_[(head_ + i) & mask_]; }

private:
    static constexpr std::size_t kInitial = 64;

    void grow() {
        const std::size_t cap = (mask_ + 1) * 2;
        auto bigger = std::make_unique<Token[]>(cap);
        for (std::size_t i = 0; i < size_; ++i) bigger[i] = slots_[(head_ + i) & mask_];
        slots_ = std::move(bigger);
        head_ = 0;
        mask_ = cap - 1;
    }

    std::unique_ptr<Token[]> slots_;
    std::size_t mask_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace torvex::scan
