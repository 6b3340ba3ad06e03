// Mapping keys recur across loads as much as within one: a program reads the
// same shapes of configuration again and again. Each thread state remembers
// the strs of recent short ASCII keys, so a later load on that thread takes
// them without making, hashing and interning a str again (which
// costs several hundred instructions a key; a lookup here costs a few dozen).
//
// The table is direct-mapped and bounded: a key replaces whatever an earlier
// load left in its slot, so a stream of ever-new keys costs a bounded amount
// of memory and a new shape of document is remembered at its first load. A
// key the current load remembered or found keeps its slot until the load
// ends: in a document with more keys than slots, replacing it would leave the
// memory holding only the document's last keys, each of which the next load
// of that document evicts before it reaches it, so that it finds none. It
// lives in a capsule in the thread state's dict: it is never shared between
// threads, and it is released with the thread state, while a thread is
// attached, like any other object in that dict.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "ffi/py_ref.hpp"

namespace torvex::ffi {

class KeyMemory {
public:
    // Keys longer than this are rarely repeated across documents.
    static constexpr std::size_t kLongest = 48;

    KeyMemory() = default;
    KeyMemory(const KeyMemory&) = delete;
    KeyMemory& operator=(const KeyMemory&) = delete;
    ~KeyMemory() {
        for (Slot& slot : slots_) Py_XDECREF(slot.str);
    }

    // The calling thread state's memory, made on its first use; `holder`
    // keeps it alive for the caller. Null, with no error set, where the
    // thread state has no dict or the memory cannot be made: keys are then
    // made as if nothing were remembered.
    static KeyMemory* of_this_thread(PyRef& holder);

    // A load (one document's conversion) begins: what earlier ones remembered may be replaced.
    void begin_load() noexcept { ++load_; }

    // A new reference to the remembered str of the ASCII `text`, or null.
    PyObject* find(std::string_view text, std::uint64_t hash) noexcept {
        Slot& slot = slots_[hash & (kSlots - 1)];
        if (slot.hash != hash || slot.str == nullptr) return nullptr;
        if (static_cast<std::size_t>(PyUnicode_GET_LENGTH(slot.str)) != text.size() ||
            std::memcmp(PyUnicode_1BYTE_DATA(slot.str), text.data(), text.size()) != 0) {
            return nullptr;
        }
        slot.load = load_;
        return Py_NewRef(slot.str);
    }

    // Remembers `str` (borrowed; the load's shared compact ASCII str of a key) under
    // `hash`, unless this load has used its slot for another key.
    void remember(std::uint64_t hash, PyObject* str) noexcept {
        if (!PyUnicode_IS_COMPACT_ASCII(str)) return;
        Slot& slot = slots_[hash & (kSlots - 1)];
        if (slot.str != nullptr && slot.load == load_) return;
        PyObject* replaced = slot.str;
        slot.hash = hash;
        slot.str = Py_NewRef(str);
        slot.load = load_;
        Py_XDECREF(replaced);  // an exact str: its release runs no user code
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        PyObject* str = nullptr;  // owned
        std::uint32_t load = 0;   // the load that last remembered or found it
    };
    static constexpr std::size_t kSlots = 1024;
    std::array<Slot, kSlots> slots_{};
    std::uint32_t load_ = 0;  // wraps harmlessly: it only decides which key keeps a slot
};

}  // namespace torvex::ffi
