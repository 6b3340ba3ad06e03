#include "ffi/convert/key_memory.hpp"

#include <atomic>

#include "ffi/thread_memory.hpp"

namespace torvex::ffi {

namespace {
std::atomic<PyObject*> g_dict_key{nullptr};
}  // namespace

KeyMemory* KeyMemory::of_this_thread(PyRef& holder) {
    return ffi::of_this_thread<KeyMemory>("torvex.key_memory", g_dict_key, holder);
}

}  // namespace torvex::ffi
