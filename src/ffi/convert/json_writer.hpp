// Python objects straight to JSON text: the path of to_json without
// OPT_SORT_KEYS. Exact dicts, lists, tuples and the common scalars are
// written as they are read, with no value tape in between; every other
// object goes through the converter (to_tape) and the tape's JSON emitter,
// so each type keeps the one set of rules and messages it has there. The
// result and the errors are those of converting the whole object first and
// emitting it afterwards: an error of the conversion wins over a collection
// used as a key, wherever the two are.
#pragma once

#include "encode/out_buffer.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/python.hpp"

namespace torvex::ffi {

// Appends `obj` as JSON (indent: spaces per level, 0 for compact output).
// False with the Python exception set; `out` then holds a partial text.
bool write_json(PyObject* obj, const EncodeOptions& options, unsigned indent, OutBuffer& out);

}  // namespace torvex::ffi
