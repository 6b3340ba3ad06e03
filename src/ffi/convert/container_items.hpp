// Reading lists and dicts for conversion, shared by the tree encoder and the
// direct JSON writer.
//
// A list is read by index below its current length at each step, inside its
// critical section: a list that shrinks or grows meanwhile is never read out
// of range. Leaf items are handed over inside the section; any other item is
// held by a strong reference and handed over after it is left (converting it
// may run user code, and a removed item stays alive while it is converted).
// Items a few places ahead are prefetched.
//
// The dict is checked the way the interpreter checks its own
// iteration: its size is compared with the size at the start whenever the
// critical section is entered again, and finding more entries than that means
// keys were replaced.
//
// Entries whose key and value are both leaves are handed over inside the
// dict's critical section; any other entry is held by strong references and
// handed over after the section is left, since converting it may run user
// code. Entries are read sixteen at a time and their objects prefetched, so
// the conversion does not wait on each object's first cache line in turn;
// entries read after one handed over outside the section are read again when
// the section is entered again (the dict may have changed meanwhile).
#pragma once

#include <cstddef>
#include <cstdint>

#include "ffi/convert/encode_detail.hpp"
#include "ffi/py_ref.hpp"

namespace torvex::ffi::encode {

// `leaf_item(item, kind)` is called for leaf items when `leaves` is true;
// `other_item(item)` for the rest. Each returns false to stop with an error
// set (or recorded by the caller); so does this.
template <class LeafItem, class OtherItem>
bool for_each_list_item(PyObject* list, bool leaves, LeafItem&& leaf_item, OtherItem&& other_item) {
    constexpr Py_ssize_t kPrefetchAhead = 8;
    Py_ssize_t index = 0;
    for (;;) {
        PyRef item;
        {
            CriticalSection section(list);
            // Nothing changes the list inside the section: its length and
            // items are read once, not after every write to the output
            // (which the compiler must assume may change them).
            const Py_ssize_t size = PyList_GET_SIZE(list);
            PyObject* const* const items = reinterpret_cast<PyListObject*>(list)->ob_item;
            while (index < size) {
                if (index + kPrefetchAhead < size) __builtin_prefetch(items[index + kPrefetchAhead]);
                PyObject* current = items[index];
                ++index;
                if (const Leaf kind = classify_in_section(current); leaves && kind != Leaf::No) {
                    if (!leaf_item(current, kind)) return false;
                    continue;
                }
                item = PyRef::borrow(current);
                break;
            }
        }
        if (!item) return true;
        if (!other_item(item.get())) return false;
    }
}

// `leaf_entry(key, value, key_kind, value_kind)` is called for leaf entries
// when `leaves` is true; `other_entry(key, value)` for the rest. Each returns
// false to stop with an error set (or recorded by the caller); so does this.
//
// `foreign_calls`, when given, counts the caller's calls that may run code
// of the user's (a conversion, a default function) or allocate objects the
// collector tracks. With the GIL held throughout, nothing else can change the
// dict: an entry handed over while that count stays the same leaves the
// entries read ahead valid, and the reading goes on without reading them
// again. On a free-threaded interpreter another thread may change the dict
// at any time outside its critical section, so it is always read again.
template <class LeafEntry, class OtherEntry>
bool for_each_dict_entry(PyObject* dict, bool leaves, LeafEntry&& leaf_entry, OtherEntry&& other_entry,
                         const std::uint64_t* foreign_calls = nullptr) {
#ifdef Py_GIL_DISABLED
    foreign_calls = nullptr;
#endif
    constexpr std::size_t kBatch = 16;
    // An entry read ahead, with the iteration position before it. Left
    // uninitialised in a batch: only the entries read are looked at.
    struct Entry {
        PyObject* key;
        PyObject* value;
        Py_ssize_t resume;
    };
    Py_ssize_t position = 0;
    Py_ssize_t expected = -1;
    Py_ssize_t seen = 0;
    // Until an entry is handed over outside the section (which may run user
    // code), nothing can have changed the dict: once `expected` entries are
    // read no further one can come, and the last, empty step is skipped.
    bool interrupted = false;
    for (;;) {
        PyRef key;
        PyRef value;
        bool reread = false;
        {
            CriticalSection section(dict);
            const Py_ssize_t size = PyDict_GET_SIZE(dict);
            if (expected < 0) {
                expected = size;
            } else if (size != expected) {
                PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
                return false;
            }
            for (bool more = true; more && !key && !reread;) {
                Entry batch[kBatch];
                std::size_t got = 0;
                while (got < kBatch && (interrupted || seen < expected)) {
                    Entry& entry = batch[got];
                    entry.resume = position;
                    if (!PyDict_Next(dict, &position, &entry.key, &entry.value)) break;
                    if (++seen > expected) {
                        PyErr_SetString(PyExc_RuntimeError, "dictionary keys changed during iteration");
                        return false;
                    }
                    __builtin_prefetch(entry.key);
                    __builtin_prefetch(entry.value);
                    ++got;
                }
                more = got == kBatch;
                for (std::size_t i = 0; i < got; ++i) {
                    PyObject* const k = batch[i].key;
                    PyObject* const v = batch[i].value;
                    const Leaf key_kind = classify_in_section(k);
                    const Leaf value_kind = classify_in_section(v);
                    if (leaves && key_kind != Leaf::No && value_kind != Leaf::No) {
                        if (!leaf_entry(k, v, key_kind, value_kind)) return false;
                        continue;
                    }
                    if (foreign_calls != nullptr) {
                        // The section is no lock here (the GIL build): the entry is handed over in place.
                        const std::uint64_t before = *foreign_calls;
                        const PyRef held_key = PyRef::borrow(k);
                        const PyRef held_value = PyRef::borrow(v);
                        if (!other_entry(k, v)) return false;
                        if (*foreign_calls == before) continue;
                        // Read again from the next entry, after the size check.
                        interrupted = true;
                        reread = true;
                        if (i + 1 < got) {
                            position = batch[i + 1].resume;
                            seen -= static_cast<Py_ssize_t>(got - i - 1);
                        }
                        break;
                    }
                    key = PyRef::borrow(k);
                    value = PyRef::borrow(v);
                    if (i + 1 < got) {
                        position = batch[i + 1].resume;
                        seen -= static_cast<Py_ssize_t>(got - i - 1);
                    }
                    break;
                }
            }
        }
        if (reread) continue;
        if (!key) return true;
        interrupted = true;
        if (!other_entry(key.get(), value.get())) return false;
    }
}

}  // namespace torvex::ffi::encode
