#include "ffi/convert/key_memory.hpp"

#include <atomic>
#include <memory>

#include "ffi/once.hpp"

namespace torvex::ffi {

namespace {

constexpr const char* kCapsuleName = "torvex.key_memory";

std::atomic<PyObject*> g_dict_key{nullptr};

void release_memory(PyObject* capsule) {
    delete static_cast<KeyMemory*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

// The capsule of this thread state's memory, made and stored on first use.
PyRef memory_capsule() {
    PyObject* dict = PyThreadState_GetDict();  // borrowed; null without an error
    if (dict == nullptr) return PyRef();
    PyObject* key = cached_once(g_dict_key, [] { return PyRef::steal(PyUnicode_InternFromString(kCapsuleName)); });
    if (key == nullptr) return PyRef();
    PyObject* found = nullptr;
    if (PyDict_GetItemRef(dict, key, &found) < 0) return PyRef();
    if (found != nullptr) return PyRef::steal(found);
    auto memory = std::make_unique<KeyMemory>();
    PyRef capsule = PyRef::steal(PyCapsule_New(memory.get(), kCapsuleName, release_memory));
    if (!capsule) return PyRef();
    memory.release();  // the capsule owns it now
    if (PyDict_SetItem(dict, key, capsule.get()) < 0) return PyRef();
    return capsule;
}

}  // namespace

KeyMemory* KeyMemory::of_this_thread(PyRef& holder) {
    holder = memory_capsule();
    if (!holder) {
        PyErr_Clear();
        return nullptr;
    }
    auto* memory = static_cast<KeyMemory*>(PyCapsule_GetPointer(holder.get(), kCapsuleName));
    if (memory == nullptr) PyErr_Clear();  // another extension's object under our name
    return memory;
}

}  // namespace torvex::ffi
