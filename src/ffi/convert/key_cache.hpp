// Mapping keys repeat: the same few texts appear as keys throughout a
// document. The cache makes each distinct key text into one str and hands
// out new references to it, so equal keys are the identical object and are
// made (and hashed by dicts) once. Every key is also interned. Short ASCII
// keys come from the thread's KeyMemory when an earlier load made them.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "ffi/convert/key_memory.hpp"
#include "ffi/py_ref.hpp"

namespace torvex::ffi {

class KeyCache {
public:
    KeyCache() = default;
    KeyCache(const KeyCache&) = delete;
    KeyCache& operator=(const KeyCache&) = delete;
    ~KeyCache() {
        for (std::size_t i = 0; i < capacity_; ++i) Py_XDECREF(slots_[i].object);
        for (const auto& entry : overflow_) Py_DECREF(entry.second);
    }

    // A new reference to the str for `text`, or null with the error set.
    // `text` must stay valid for the cache's lifetime (it points into the
    // decoded input).
    PyObject* get(std::string_view text) {
        const std::uint64_t hash = hash_text(text);
        // A key an earlier load on this thread made (most keys of most
        // loads) needs no slot here. (The memory is looked up when the
        // first key is made: a load with no key pays nothing for it.)
        if (memory_ != nullptr && worth_remembering(text)) {
            if (PyObject* str = memory_->find(text, hash)) return str;
        }
        const std::size_t mask = capacity_ - 1;
        std::size_t i = hash & mask;
        for (std::size_t probes = 0; probes < kMaxProbes; ++probes, i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.object == nullptr) return insert(slot, hash, text);
            if (slot.hash == hash && slot.text == text) return Py_NewRef(slot.object);
        }
        // A crowded run of slots (long runs occur at half load, and texts
        // made to share a hash must not turn each lookup into a scan of all
        // of them): such keys are kept in a map of their own.
        return get_overflow(text);
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::string_view text;
        PyObject* object = nullptr;
    };
    // A small document has a few distinct keys: their slots are part of the
    // cache itself, and only a document with more moves them to the heap.
    static constexpr std::size_t kInlineSlots = 16;
    static constexpr std::size_t kMaxProbes = 16;

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
    static PyObject* make_interned(std::string_view text) {
        PyObject* str = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
        if (str != nullptr) PyUnicode_InternInPlace(&str);
        return str;
    }

    // Worth remembering: short keys but one-character ones, which the
    // decoder hands out from the interpreter's own table at no cost. (The
    // memory takes ASCII ones only.)
    static bool worth_remembering(std::string_view text) noexcept {
        return text.size() >= 2 && text.size() <= KeyMemory::kLongest;
    }

    // The thread's memory of keys, looked up at the first key made that may be in it.
    KeyMemory* memory() {
        if (!memory_looked_up_) {
            memory_ = KeyMemory::of_this_thread(memory_holder_);
            memory_looked_up_ = true;
        }
        return memory_;
    }

    // The key's str: from the memory (for the call's first keys, before
    // get() looks there), else made, and remembered for later loads when it
    // is worth it.
    PyObject* make_key(std::string_view text, std::uint64_t hash) {
        if (!worth_remembering(text) || memory() == nullptr) return make_interned(text);
        if (PyObject* str = memory_->find(text, hash)) return str;
        PyObject* str = make_interned(text);
        if (str != nullptr) memory_->remember(hash, str);
        return str;
    }

    [[gnu::noinline]] PyObject* insert(Slot& slot, std::uint64_t hash, std::string_view text) {
        PyObject* str = make_key(text, hash);
        if (str == nullptr) return nullptr;
        slot.hash = hash;
        slot.text = text;
        slot.object = str;
        if (++used_ * 2 > capacity_) grow();
        return Py_NewRef(str);
    }

    [[gnu::noinline]] PyObject* get_overflow(std::string_view text) {
        const auto found = overflow_.find(text);
        if (found != overflow_.end()) return Py_NewRef(found->second);
        PyRef str = PyRef::steal(make_key(text, hash_text(text)));
        if (!str) return nullptr;
        overflow_.emplace(text, str.get());  // may throw: the reference is still held
        ++used_;
        return Py_NewRef(str.release());
    }

    // Every entry stays within kMaxProbes of its first slot, where get()
    // looks, or goes to the overflow map. Entries are placed at the first
    // free slot and never removed, so a text in the overflow map finds its
    // run of slots full until the next growth: get() never places it twice.
    void grow() {
        const std::size_t capacity = capacity_ * 4;
        auto bigger = std::make_unique<Slot[]>(capacity);
        const std::size_t mask = capacity - 1;
        std::unordered_map<std::string_view, PyObject*> overflow;
        auto place = [&](const Slot& entry) {
            std::size_t i = entry.hash & mask;
            for (std::size_t probes = 0; probes < kMaxProbes; ++probes, i = (i + 1) & mask) {
                if (bigger[i].object == nullptr) {
                    bigger[i] = entry;
                    return;
                }
            }
            overflow.emplace(entry.text, entry.object);
        };
        for (std::size_t k = 0; k < capacity_; ++k) {
            if (slots_[k].object != nullptr) place(slots_[k]);
        }
        // Last, so that one that does not fit again finds its run full.
        for (const auto& [text, object] : overflow_) place(Slot{hash_text(text), text, object});
        overflow_ = std::move(overflow);
        heap_ = std::move(bigger);
        slots_ = heap_.get();
        capacity_ = capacity;
    }

    Slot inline_[kInlineSlots];
    std::unique_ptr<Slot[]> heap_;
    Slot* slots_ = inline_;
    std::size_t capacity_ = kInlineSlots;
    std::size_t used_ = 0;  // distinct keys made, cached in slots or in the overflow map
    std::unordered_map<std::string_view, PyObject*> overflow_;
    // The thread's memory of keys, looked up at the first key that may be in it.
    PyRef memory_holder_;
    KeyMemory* memory_ = nullptr;
    bool memory_looked_up_ = false;
};

}  // namespace torvex::ffi
