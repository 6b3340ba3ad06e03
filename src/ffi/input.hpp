// Input acquisition: every function that reads YAML turns its `data`
// argument into one owned UTF-8 text by this routine, so the engine can run
// detached from the interpreter afterwards.
#pragma once

#include <optional>
#include <string>

#include "ffi/python.hpp"

namespace torvex::ffi {

// str (its UTF-8 form, no encoding detection), bytes, bytearray or any
// buffer of single bytes (UTF-8, UTF-16 or UTF-32 by detection). Returns
// nothing with the Python error set on failure.
std::optional<std::string> acquire_text(PyObject* data);

}  // namespace torvex::ffi
