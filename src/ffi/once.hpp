// Process-wide lazily looked-up Python objects (exception classes, companion
// classes, numpy types). Several threads may race on a free-threaded
// interpreter: each looks the object up, one publishes it with a
// compare-and-swap and the others drop theirs. No lock is held while Python
// code runs, so a lookup that releases the interpreter cannot deadlock.
// Published objects are never released.
#pragma once

#include <atomic>

#include "ffi/py_ref.hpp"

namespace torvex::ffi {

// lookup() returns a PyRef; a null one means failure with the Python error set.
// Returns the cached object (borrowed) or null on failure.
template <class Lookup>
PyObject* cached_once(std::atomic<PyObject*>& slot, Lookup lookup) {
    if (PyObject* cached = slot.load(std::memory_order_acquire)) return cached;
    PyRef found = lookup();
    if (!found) return nullptr;
    PyObject* expected = nullptr;
    if (slot.compare_exchange_strong(expected, found.get(), std::memory_order_acq_rel)) return found.release();
    return expected;  // another thread published first; ours is released
}

}  // namespace torvex::ffi
