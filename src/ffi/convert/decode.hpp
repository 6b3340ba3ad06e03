// Values to Python objects: the plain conversion of a decoded document.
#pragma once

#include "decode/tape.hpp"
#include "ffi/convert/key_cache.hpp"
#include "ffi/py_ref.hpp"

namespace torvex::ffi {

// One per converted document.
struct DecodeContext {
    PyObject* tags = nullptr;         // borrowed dict of tag text -> callable, or null
    PyObject* tag_handler = nullptr;  // borrowed callable(tag, value), or null
    bool passthrough = false;         // keep unknown tags as TorvexTag
    KeyCache keys;
};

// The subtree of `tape` at `root`, which must hold no merge markers, as a new
// reference, or a null PyRef with the Python error set.
PyRef to_python(const Tape& tape, std::size_t root, DecodeContext& context);

}  // namespace torvex::ffi
