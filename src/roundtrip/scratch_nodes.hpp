// The composer's scratch stack: nodes under construction, the children of
// every open collection above each other. When a collection closes, its
// children leave the stack for an exactly sized NodeList.
//
// That hand-over is the composer's most frequent copy, so the nodes are
// relocated as bytes instead of moved member by member: a YamlNode holds
// nothing that points into itself (texts, owning pointers and a vector with a
// stateless allocator), so its bytes at another address are the same node,
// and the slot it left is forgotten without running its destructor. The
// slots are raw storage for that reason; nodes still on the stack when it is
// destroyed (a composition cut short by an exception) are destroyed normally.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "roundtrip/ast.hpp"

namespace torvex::rt {

class ScratchNodes {
public:
    ScratchNodes() = default;
    ~ScratchNodes() { truncate(0); }
    ScratchNodes(const ScratchNodes&) = delete;
    ScratchNodes& operator=(const ScratchNodes&) = delete;

    std::size_t size() const noexcept { return size_; }
    YamlNode& back() noexcept { return at(size_ - 1); }

    // A new default node on top.
    YamlNode& emplace_back() {
        if (size_ == capacity_) grow();
        YamlNode* node = ::new (static_cast<void*>(&slots_[size_])) YamlNode();
        ++size_;
        return *node;
    }

    // The top node, taken off the stack.
    YamlNode pop_back() noexcept {
        YamlNode out = std::move(back());
        truncate(size_ - 1);
        return out;
    }

    // Destroys the nodes from `base` up.
    void truncate(std::size_t base) noexcept {
        while (size_ > base) at(--size_).~YamlNode();
    }

    // The nodes from `base` up, relocated into a list of their own.
    NodeList take_from(std::size_t base) {
        const std::size_t count = size_ - base;
        NodeList out(count);  // default nodes own nothing: overwriting them leaks nothing
        if (count != 0) std::memcpy(static_cast<void*>(out.data()), static_cast<const void*>(&slots_[base]), count * sizeof(YamlNode));
        size_ = base;  // relocated: the slots are forgotten, not destroyed
        return out;
    }

private:
    struct Slot {
        alignas(YamlNode) std::byte bytes[sizeof(YamlNode)];
    };
    static_assert(std::is_trivially_copyable_v<Slot>);

    YamlNode& at(std::size_t i) noexcept { return *std::launder(reinterpret_cast<YamlNode*>(&slots_[i])); }

    // Slots are left uninitialised; the live nodes move over as bytes.
    void grow() {
        const std::size_t capacity = capacity_ == 0 ? 64 : capacity_ * 2;
        std::unique_ptr<Slot[]> slots(new Slot[capacity]);
        if (size_ != 0) std::memcpy(static_cast<void*>(slots.get()), static_cast<const void*>(slots_.get()), size_ * sizeof(Slot));
        slots_ = std::move(slots);
        capacity_ = capacity;
    }

    std::unique_ptr<Slot[]> slots_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

}  // namespace torvex::rt
