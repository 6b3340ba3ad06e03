// An output buffer whose storage is the body of the bytes object the call
// returns: written in place, grown with _PyBytes_Resize (realloc, which moves
// large blocks by remapping rather than copying) and cut to its length at the
// end, so the result needs no copy of the output. Attached use only: growing
// calls the interpreter's allocator.
#pragma once

#include <cstddef>

#include "encode/out_buffer.hpp"
#include "ffi/py_ref.hpp"

namespace torvex::ffi {

class BytesOutput {
public:
    // Null bytes (with MemoryError set) when even the first block cannot be
    // had; check ok() before writing.
    explicit BytesOutput(std::size_t initial = 1024)
        : bytes_(PyRef::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(initial)))),
          out_(bytes_ ? PyBytes_AS_STRING(bytes_.get()) : nullptr, bytes_ ? initial : 0, {this, &grow}) {}
    BytesOutput(const BytesOutput&) = delete;
    BytesOutput& operator=(const BytesOutput&) = delete;

    bool ok() const noexcept { return static_cast<bool>(bytes_); }
    OutBuffer& buffer() noexcept { return out_; }

    // The bytes written, as a new reference; null with the error set.
    PyObject* finish() {
        PyObject* bytes = bytes_.release();
        if (_PyBytes_Resize(&bytes, static_cast<Py_ssize_t>(out_.size())) < 0) return nullptr;
        return bytes;
    }

private:
    static char* grow(void* owner, std::size_t want) {
        auto* self = static_cast<BytesOutput*>(owner);
        PyObject* bytes = self->bytes_.release();
        if (_PyBytes_Resize(&bytes, static_cast<Py_ssize_t>(want)) < 0) {
            PyErr_Clear();  // the buffer reports it as std::bad_alloc
            return nullptr;
        }
        self->bytes_ = PyRef::steal(bytes);
        return PyBytes_AS_STRING(bytes);
    }

    PyRef bytes_;
    OutBuffer out_;
};

}  // namespace torvex::ffi
