// Mapping keys repeat: the same few texts appear as keys throughout a
// document. The cache makes each distinct key text into one interned str and
// hands out new references to it, so equal keys are the identical object and
// are made (and hashed by dicts) once.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "ffi/py_ref.hpp"

namespace torvex::ffi {

class KeyCache {
public:
    KeyCache() : slots_(kInitialSlots) {}
    KeyCache(const KeyCache&) = delete;
    KeyCache& operator=(const KeyCache&) = delete;
    ~KeyCache() {
        for (auto& slot : slots_) Py_XDECREF(slot.object);
    }

    // A new reference to the str for `text`, or null with the error set.
    // `text` must stay valid for the cache's lifetime (it points into the value tree).
    PyObject* get(std::string_view text) {
        const std::uint64_t hash = hash_text(text);
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.object == nullptr) return insert(slot, hash, text);
            if (slot.hash == hash && slot.text == text) return Py_NewRef(slot.object);
        }
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::string_view text;
        PyObject* object = nullptr;
    };
    static constexpr std::size_t kInitialSlots = 64;

    static std::uint64_t hash_text(std::string_view text) noexcept {
        // FNV-1a over 8-byte words: keys are short, so this is cheap and good enough.
        std::uint64_t h = 0xcbf29ce484222325ULL ^ text.size();
        const char* p = text.data();
        std::size_t n = text.size();
        while (n >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            h = (h ^ word) * 0x100000001b3ULL;
            h ^= h >> 29;
            p += 8;
            n -= 8;
        }
        std::uint64_t tail = 0;
        std::memcpy(&tail, p, n);
        h = (h ^ tail) * 0x100000001b3ULL;
        return h ^ (h >> 32);
    }

    PyObject* insert(Slot& slot, std::uint64_t hash, std::string_view text) {
        PyObject* str = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
        if (str == nullptr) return nullptr;
        PyUnicode_InternInPlace(&str);
        slot.hash = hash;
        slot.text = text;
        slot.object = str;
        if (++used_ * 2 > slots_.size()) grow();
        return Py_NewRef(str);
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (auto& entry : old) {
            if (entry.object == nullptr) continue;
            std::size_t i = entry.hash & mask;
            while (slots_[i].object != nullptr) i = (i + 1) & mask;
            slots_[i] = entry;
        }
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

}  // namespace torvex::ffi
