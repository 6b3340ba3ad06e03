// Owned Python references. Every new reference the frame receives goes into a
// PyRef at once, so it is released on every path, failures included.
// Borrowed references stay plain PyObject* and are named as such.
#pragma once

#include <utility>

#include "ffi/python.hpp"

namespace torvex::ffi {

class PyRef {
public:
    PyRef() noexcept = default;
    // Takes ownership of a new reference (which may be null after a failed call).
    static PyRef steal(PyObject* owned) noexcept { return PyRef(owned); }
    // Adds a reference to a borrowed object.
    static PyRef borrow(PyObject* borrowed) noexcept {
        Py_XINCREF(borrowed);
        return PyRef(borrowed);
    }

    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(obj_);
            obj_ = std::exchange(other.obj_, nullptr);
        }
        return *this;
    }
    ~PyRef() { Py_XDECREF(obj_); }

    PyObject* get() const noexcept { return obj_; }
    explicit operator bool() const noexcept { return obj_ != nullptr; }
    // Hands the reference to the caller (for returning to the interpreter).
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(obj_, nullptr); }

private:
    explicit PyRef(PyObject* owned) noexcept : obj_(owned) {}
    PyObject* obj_ = nullptr;
};

// Detaches the calling thread from the interpreter for the lifetime of the
// guard. Nothing inside may touch a Python object. The destructor re-attaches
// on every path, a C++ exception included.
class Detached {
public:
    Detached() noexcept : state_(PyEval_SaveThread()) {}
    ~Detached() { PyEval_RestoreThread(state_); }
    Detached(const Detached&) = delete;
    Detached& operator=(const Detached&) = delete;

private:
    PyThreadState* state_;
};

}  // namespace torvex::ffi
