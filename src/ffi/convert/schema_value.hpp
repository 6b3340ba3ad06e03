// A schema given as a Python object, converted once per call by the same
// conversion dumps uses (dicts, lists, tuples, numbers, strings, ...), then
// compiled for the validator straight from the converted tape.
#pragma once

#include <memory>

#include "ffi/convert/encode.hpp"
#include "ffi/python.hpp"
#include "schema/schema.hpp"

namespace torvex::ffi {

// A converted schema: the tape the conversion wrote and the schema compiled
// from it, whose texts point into the tape.
struct PythonSchema {
    EncodedTape encoded;
    schema::CompiledSchema compiled;
};

// The compiled schema, or null with the Python exception set (an object the
// conversion refuses raises TorvexUnserializableError or TorvexEncodeError).
std::unique_ptr<PythonSchema> compile_python_schema(PyObject* schema);

}  // namespace torvex::ffi
