// Mapping keys repeat: the same few texts appear as keys throughout a
// document. The cache makes each distinct key text into one str and hands
// out new references to it, so equal keys are the identical object and are
// made (and hashed by dicts) once. Every key is also interned, so a key the
// cache does not hold (evicted, or never cached) is still the identical str:
// the cache only saves the making and the interpreter's lookup.
//
// Its size is bounded: a document of thousands of distinct keys (most of them
// once each) would otherwise grow a table far larger than the caches of the
// CPU, whose every lookup, growth and final release misses them. Past the
// bound, a key whose run of slots is full takes the place of the first one.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "ffi/py_ref.hpp"

namespace torvex::ffi {

class KeyCache {
public:
    KeyCache() = default;
    KeyCache(const KeyCache&) = delete;
    KeyCache& operator=(const KeyCache&) = delete;
    ~KeyCache() {
        for (std::size_t i = 0; i < capacity_; ++i) Py_XDECREF(slots_[i].object);
    }

    // A new reference to the str for `text`, or null with the error set.
    // `text` must stay valid for the cache's lifetime (it points into the
    // decoded input).
    PyObject* get(std::string_view text) {
        if (text.size() > kMaxCachedLength) [[unlikely]]
            return make_key(text);
        const auto hash = static_cast<std::uint32_t>(hash_text(text));
        const auto length = static_cast<std::uint32_t>(text.size());
        const std::size_t mask = capacity_ - 1;
        std::size_t i = hash & mask;
        for (std::size_t probes = 0; probes < kMaxProbes; ++probes, i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.object == nullptr) return insert(slot, hash, text);
            if (slot.hash == hash && slot.length == length && std::memcmp(slot.text, text.data(), length) == 0)
                return Py_NewRef(slot.object);
        }
        return crowded(hash, text);
    }

private:
    struct Slot {
        const char* text = nullptr;
        std::uint32_t length = 0;
        std::uint32_t hash = 0;  // hash_text's low half: the table takes its slot from its low bits
        PyObject* object = nullptr;
    };
    static_assert(sizeof(Slot) == 24);
    // A small document has a few distinct keys: their slots are part of the
    // cache itself, and only a document with more moves them to the heap.
    static constexpr std::size_t kInlineSlots = 16;
    // 192 KiB of slots: a second-level cache holds most of them.
    static constexpr std::size_t kMaxSlots = 8192;
    static constexpr std::size_t kMaxProbes = 8;
    // Longer keys are rare and would mostly be compared in vain: made each time.
    static constexpr std::size_t kMaxCachedLength = 1024;

    static std::uint64_t load8(const char* p) noexcept {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        return word;
    }

    static std::uint64_t load4(const char* p) noexcept {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        return word;
    }

    static std::uint64_t mix(std::uint64_t h) noexcept {
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        return h ^ (h >> 29);
    }

    // Every byte counts, read in 8-byte words (the last one overlapping the
    // one before it) without a byte loop: keys are short, so this is cheap.
    // Below 8 bytes, two 4-byte words that overlap, or the bytes one by one.
    static std::uint64_t hash_text(std::string_view text) noexcept {
        const char* p = text.data();
        const std::size_t n = text.size();
        std::uint64_t h = 0x9e3779b97f4a7c15ULL * (n + 1);
        if (n < 4) {
            std::uint64_t small = 0;
            for (std::size_t k = 0; k < n; ++k) small = small << 8 | static_cast<unsigned char>(p[k]);
            return mix(h ^ small);
        }
        if (n < 8) return mix(h ^ (load4(p) << 32 | load4(p + n - 4)));
        for (std::size_t k = 0; k + 8 < n; k += 8) h = (h ^ load8(p + k)) * 0x100000001b3ULL;
        return mix(h ^ load8(p + n - 8));
    }

    // The interned str of `text`, shared with the interpreter's own strs and
    // with the same key of later loads. Made by CPython's decoder, which
    // hands out its shared str for a one-character key.
    static PyObject* make_key(std::string_view text) {
        PyObject* str = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
        if (str != nullptr) PyUnicode_InternInPlace(&str);
        return str;
    }

    PyObject* insert(Slot& slot, std::uint32_t hash, std::string_view text) {
        PyObject* str = make_key(text);
        if (str == nullptr) return nullptr;
        slot = Slot{text.data(), static_cast<std::uint32_t>(text.size()), hash, str};
        if (++used_ * 2 > capacity_ && capacity_ < kMaxSlots) grow();
        return Py_NewRef(str);
    }

    // Every slot of the key's run is taken: a table below its bound grows,
    // else the key replaces the run's first entry.
    [[gnu::noinline]] PyObject* crowded(std::uint32_t hash, std::string_view text) {
        if (capacity_ < kMaxSlots) {
            grow();
            return get(text);
        }
        Slot& slot = slots_[hash & (capacity_ - 1)];
        PyObject* str = make_key(text);
        if (str == nullptr) return nullptr;
        Py_DECREF(slot.object);
        slot = Slot{text.data(), static_cast<std::uint32_t>(text.size()), hash, str};
        return Py_NewRef(str);
    }

    // Twice the slots; an entry whose new run is full is dropped (its str
    // stays interned, so the next lookup finds the same object).
    void grow() {
        const std::size_t capacity = capacity_ * 2;
        auto bigger = std::make_unique<Slot[]>(capacity);
        const std::size_t mask = capacity - 1;
        std::size_t used = 0;
        for (std::size_t k = 0; k < capacity_; ++k) {
            const Slot& entry = slots_[k];
            if (entry.object == nullptr) continue;
            std::size_t i = entry.hash & mask;
            std::size_t probes = 0;
            while (probes < kMaxProbes && bigger[i].object != nullptr) ++probes, i = (i + 1) & mask;
            if (probes == kMaxProbes) {
                Py_DECREF(entry.object);
                continue;
            }
            bigger[i] = entry;
            ++used;
        }
        heap_ = std::move(bigger);
        slots_ = heap_.get();
        capacity_ = capacity;
        used_ = used;
    }

    Slot inline_[kInlineSlots];
    std::unique_ptr<Slot[]> heap_;
    Slot* slots_ = inline_;
    std::size_t capacity_ = kInlineSlots;
    std::size_t used_ = 0;  // slots taken
};

}  // namespace torvex::ffi
