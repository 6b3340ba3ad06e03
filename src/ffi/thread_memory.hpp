// Memory a thread state keeps from one load to the next: an object of a
// native type in a capsule in the thread state's dict. It is never shared
// between threads, and it is released with the thread state, while a thread
// is attached, like any other object in that dict.
#pragma once

#include <atomic>
#include <memory>

#include "ffi/once.hpp"
#include "ffi/py_ref.hpp"

namespace torvex::ffi {

// The calling thread state's T, made on first use and kept under `name`
// (a capsule name, static storage); `holder` keeps it alive for the caller.
// Null, with no error set, where the thread state has no dict or the memory
// cannot be made: the caller then goes without.
template <class T>
T* of_this_thread(const char* name, std::atomic<PyObject*>& dict_key, PyRef& holder) {
    holder = PyRef();
    PyObject* dict = PyThreadState_GetDict();  // borrowed; null without an error
    if (dict == nullptr) return nullptr;
    PyObject* key = cached_once(dict_key, [name] { return PyRef::steal(PyUnicode_InternFromString(name)); });
    PyObject* found = nullptr;
    if (key == nullptr || PyDict_GetItemRef(dict, key, &found) < 0) {
        PyErr_Clear();
        return nullptr;
    }
    if (found != nullptr) {
        holder = PyRef::steal(found);
    } else {
        auto made = std::make_unique<T>();
        holder = PyRef::steal(PyCapsule_New(made.get(), name, [](PyObject* capsule) {
            delete static_cast<T*>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
        }));
        if (!holder || PyDict_SetItem(dict, key, holder.get()) < 0) {
            PyErr_Clear();
            holder = PyRef();
            return nullptr;
        }
        made.release();  // the capsule owns it now
    }
    auto* memory = static_cast<T*>(PyCapsule_GetPointer(holder.get(), name));
    if (memory == nullptr) PyErr_Clear();  // another extension's object under our name
    return memory;
}

}  // namespace torvex::ffi
