// Every function the interpreter calls runs inside guarded(): no C++
// exception crosses into the interpreter. Allocation failure becomes
// MemoryError; any other exception or a broken invariant becomes the
// internal error, which derives from BaseException.
#pragma once

#include <new>
#include <stdexcept>

#include "core/fault.hpp"
#include "ffi/errors.hpp"

namespace torvex::ffi {

template <class F>
PyObject* guarded(F&& body) noexcept {
    try {
        PyObject* result = body();
        if (result == nullptr && !PyErr_Occurred()) set_internal_error(kUncaughtPanic);
        return result;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        set_internal_error(e.what());
    } catch (...) {
        set_internal_error(kUncaughtPanic);
    }
    return nullptr;
}

}  // namespace torvex::ffi
