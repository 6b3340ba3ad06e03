// A schema given as a Python object, converted once per call: to a Value by
// the same conversion dumps uses (dicts, lists, tuples, numbers, strings, ...),
// then compiled for the validator.
#pragma once

#include <optional>

#include "ffi/python.hpp"
#include "schema/schema.hpp"

namespace torvex::ffi {

// The compiled schema, or nothing with the Python exception set (an object
// the conversion refuses raises TorvexUnserializableError or TorvexEncodeError).
std::optional<schema::CompiledSchema> compile_python_schema(PyObject* schema);

}  // namespace torvex::ffi
