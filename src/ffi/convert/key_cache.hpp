// Mapping keys repeat: the same few texts appear as keys throughout a
// document. The cache makes each distinct key text into one str and hands
// out new references to it, so equal keys are the identical object and are
// made (and hashed by dicts) once. Every key is also interned, so a key the
// cache does not hold (evicted, or never cached) is still the identical str:
// the cache only saves the making and the interpreter's lookup. On a
// free-threaded build an interned str is immortal: interning the keys of the
// data would keep every key ever loaded until the interpreter ends, so there
// the keys are shared through a table of the keys this cache made instead,
// which goes with the cache (see make_shared).
//
// Its size is bounded, and past a first size it grows only while most
// lookups hit: a document of thousands of distinct keys, most of them used
// once, would otherwise grow a table far larger than the CPU's first-level
// cache, whose every lookup, growth and final release misses it. A key whose
// run of slots is full takes the place of the run's first entry one time in
// eight (the entry's release is a likely miss too, and a key that keeps
// coming gets in soon enough); else it is made and not kept. One control
// byte per slot (empty, or seven bits of the hash) is what a lookup reads
// first, so a key not in the table costs no read of the slots themselves.
// Short ASCII keys come from the thread's KeyMemory when an earlier load
// made them.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "core/wide_bytes.hpp"
#include "ffi/convert/key_memory.hpp"
#include "ffi/py_ref.hpp"

namespace torvex::ffi {

class KeyCache {
public:
    KeyCache() = default;
    KeyCache(const KeyCache&) = delete;
    KeyCache& operator=(const KeyCache&) = delete;
    ~KeyCache() {
        // Stops at the last taken slot: a small load's few keys leave most slots empty.
        std::size_t left = used_;
        for (std::size_t i = 0; left != 0; ++i) {
            if (control_[i] == kEmpty) continue;
            Py_DECREF(slots_[i].object);
            --left;
        }
    }

    // A new reference to the str for `text`, or null with the error set.
    // `text` must stay valid for the cache's lifetime (it points into the
    // decoded input).
    PyObject* get(std::string_view text) {
        // A one-character ASCII key (x, y, z...) is the interpreter's own str
        // of that character, one object for the whole process.
        if (text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x80) return PyUnicode_FromOrdinal(text[0]);
        if (text.size() > kMaxCachedLength) [[unlikely]]
            return make_shared(text);
        const std::uint64_t full_hash = hash_text(text);
        // A key an earlier load on this thread made (most keys of most
        // loads) needs no slot here. (The memory is looked up when the
        // first key is made: a load with no key pays nothing for it.)
        if (memory_ != nullptr && worth_remembering(text)) {
            if (PyObject* str = memory_->find(text, full_hash)) return found(str);
        }
        const auto hash = static_cast<std::uint32_t>(full_hash);
        const std::uint8_t tag = tag_of(hash);
        const auto length = static_cast<std::uint32_t>(text.size());
        const std::size_t mask = capacity_ - 1;
        std::size_t i = hash & mask;
        for (std::size_t probes = 0; probes < kMaxProbes; ++probes, i = (i + 1) & mask) {
            const std::uint8_t control = control_[i];
            if (control == kEmpty) return insert(i, full_hash, text);
            if (control != tag) continue;
            const Slot& slot = slots_[i];
            if (slot.length == length && std::memcmp(slot.text, text.data(), length) == 0) {
                ++hits_;
                return Py_NewRef(slot.object);
            }
        }
        return crowded(full_hash, text);
    }

private:
    // Only meaningful where the control byte is not kEmpty.
    struct Slot {
        const char* text;
        std::uint32_t length;
        std::uint32_t hash;  // hash_text's low half: the slot index is its low bits
        PyObject* object;
    };
    static_assert(sizeof(Slot) == 24);
    static constexpr std::uint8_t kEmpty = 0;
    // The control byte of a taken slot: the hash's bits 24..30 (the index
    // uses the low ones), with the top bit set so that it is never kEmpty.
    static std::uint8_t tag_of(std::uint32_t hash) noexcept { return static_cast<std::uint8_t>(0x80 | (hash >> 24)); }

    // A small document has a few distinct keys: their slots are part of the
    // cache itself, and only a document with more moves them to the heap.
    static constexpr std::size_t kInlineSlots = 16;
    // Up to here the table grows whenever it is half full (24 KiB of slots)...
    static constexpr std::size_t kFreeSlots = 1024;
    // ... and on to here only while at least half the lookups found their key.
    static constexpr std::size_t kMaxSlots = 8192;
    static constexpr std::size_t kMaxProbes = 8;
    static constexpr std::uint64_t kEvictEvery = 8;
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

    // Whether keys are interned: not where interned strs are immortal.
#ifdef Py_GIL_DISABLED
    static constexpr bool kInternKeys = false;
#else
    static constexpr bool kInternKeys = true;
#endif

    // A new str of `text`. An ASCII key (most are) is copied into a new str
    // as it is, which skips the decoder's checks and set-up; another is made
    // by CPython's decoder.
    static PyObject* make_str(std::string_view text) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        const auto size = static_cast<Py_ssize_t>(text.size());
        if (wide::ascii_end(bytes, 0, text.size()) == text.size()) {
            PyObject* str = PyUnicode_New(size, 127);
            if (str != nullptr) std::memcpy(PyUnicode_1BYTE_DATA(str), bytes, text.size());
            return str;
        }
        return PyUnicode_DecodeUTF8(text.data(), size, "strict");
    }

    // The one str of `text` for every key of that text this cache hands out,
    // however often the table drops or declines it: the interned str, shared
    // with the interpreter's own strs and with the same key of later loads;
    // or, where interned strs are immortal, the one in this cache's table of
    // made keys.
    [[gnu::noinline]] PyObject* make_shared(std::string_view text) {
        PyObject* str = make_str(text);
        if (str == nullptr) return nullptr;
        if constexpr (kInternKeys) {
            PyUnicode_InternInPlace(&str);
            return str;
        } else {
            return share_made(str);
        }
    }

    // `str` (stolen), or the equal str this cache made before.
    PyObject* share_made(PyObject* str) {
        PyRef made = PyRef::steal(str);
        if (!made_keys_) {
            made_keys_ = PyRef::steal(PyDict_New());
            if (!made_keys_) return nullptr;
        }
        PyObject* shared = nullptr;
        if (PyDict_SetDefaultRef(made_keys_.get(), str, str, &shared) < 0) return nullptr;
        return shared;
    }

    // Worth remembering: short keys but the empty one, which is the
    // interpreter's own str. (One-character ASCII keys never get here, and
    // the memory takes ASCII ones only.)
    static bool worth_remembering(std::string_view text) noexcept {
        return !text.empty() && text.size() <= KeyMemory::kLongest;
    }

    // The thread's memory of keys, looked up at the first key made that may be in it.
    KeyMemory* memory() {
        if (!memory_looked_up_) {
            memory_ = KeyMemory::of_this_thread(memory_holder_);
            if (memory_ != nullptr) memory_->begin_load();
            memory_looked_up_ = true;
        }
        return memory_;
    }

    // The key's str: from the memory (for the call's first keys, before
    // get() looks there), else made, and remembered for later loads when it
    // is worth it.
    PyObject* make_key(std::string_view text, std::uint64_t full_hash) {
        if (!worth_remembering(text)) return make_shared(text);
        // get() has looked in the memory already, unless it was not looked up yet.
        const bool looked_in_memory = memory_ != nullptr;
        if (memory() == nullptr) return make_shared(text);
        if (!looked_in_memory) {
            if (PyObject* str = memory_->find(text, full_hash)) return found(str);
        }
        PyObject* str = make_shared(text);
        if (str != nullptr) memory_->remember(full_hash, str);
        return str;
    }

    // A key found in the memory counts as a hit: the table is there for the
    // keys that are not, and should grow by how often lookups find their key
    // at all, not by how often the memory left it to find one.
    PyObject* found(PyObject* str) noexcept {
        ++hits_;
        return str;
    }

    bool may_grow() const noexcept {
        return capacity_ < kFreeSlots || (capacity_ < kMaxSlots && hits_ >= made_);
    }

    void place(std::size_t i, std::uint32_t hash, std::string_view text, PyObject* str) noexcept {
        control_[i] = tag_of(hash);
        slots_[i] = Slot{text.data(), static_cast<std::uint32_t>(text.size()), hash, str};
    }

    [[gnu::noinline]] PyObject* insert(std::size_t i, std::uint64_t full_hash, std::string_view text) {
        PyObject* str = make_key(text, full_hash);
        if (str == nullptr) return nullptr;
        ++made_;
        place(i, static_cast<std::uint32_t>(full_hash), text, str);
        if (++used_ * 2 > capacity_ && may_grow()) grow();
        return Py_NewRef(str);
    }

    // Every slot of the key's run is taken by another: a table that may grow
    // does, else the key may replace the run's first entry.
    [[gnu::noinline]] PyObject* crowded(std::uint64_t full_hash, std::string_view text) {
        if (may_grow()) {
            grow();
            return get(text);
        }
        const auto hash = static_cast<std::uint32_t>(full_hash);
        PyObject* str = make_key(text, full_hash);
        if (str == nullptr) return nullptr;
        ++made_;
        if (++crowded_ % kEvictEvery != 0) return str;
        const std::size_t i = hash & (capacity_ - 1);
        Py_DECREF(slots_[i].object);
        place(i, hash, text, str);
        return Py_NewRef(str);
    }

    // Twice the slots; an entry whose new run is full is dropped (its str
    // stays interned or in the table of made keys, so the next lookup finds
    // the same object).
    void grow() {
        const std::size_t capacity = capacity_ * 2;
        auto control = std::make_unique<std::uint8_t[]>(capacity);  // all kEmpty
        auto slots = std::make_unique_for_overwrite<Slot[]>(capacity);
        const std::size_t mask = capacity - 1;
        std::size_t used = 0;
        for (std::size_t k = 0; k < capacity_; ++k) {
            if (control_[k] == kEmpty) continue;
            const Slot& entry = slots_[k];
            std::size_t i = entry.hash & mask;
            std::size_t probes = 0;
            while (probes < kMaxProbes && control[i] != kEmpty) ++probes, i = (i + 1) & mask;
            if (probes == kMaxProbes) {
                Py_DECREF(entry.object);
                continue;
            }
            control[i] = control_[k];
            slots[i] = entry;
            ++used;
        }
        heap_control_ = std::move(control);
        heap_slots_ = std::move(slots);
        control_ = heap_control_.get();
        slots_ = heap_slots_.get();
        capacity_ = capacity;
        used_ = used;
    }

    std::uint8_t inline_control_[kInlineSlots] = {};
    Slot inline_slots_[kInlineSlots];
    std::unique_ptr<std::uint8_t[]> heap_control_;
    std::unique_ptr<Slot[]> heap_slots_;
    std::uint8_t* control_ = inline_control_;
    Slot* slots_ = inline_slots_;
    std::size_t capacity_ = kInlineSlots;
    std::size_t used_ = 0;   // slots taken
    std::uint64_t hits_ = 0;  // lookups that found their key (here or in the memory)
    std::uint64_t made_ = 0;  // keys made (first sight, or not kept before)
    std::uint64_t crowded_ = 0;  // keys that found their run full and the table at its size
    // Every key made, where keys are not interned: made on the first.
    PyRef made_keys_;
    // The thread's memory of keys, looked up at the first key that may be in it.
    PyRef memory_holder_;
    KeyMemory* memory_ = nullptr;
    bool memory_looked_up_ = false;
};

}  // namespace torvex::ffi
