// Turning engine errors and C++ failures into Python exceptions. Exception
// classes come from torvex.exceptions, looked up on first use and cached for
// the life of the process.
#pragma once

#include <string_view>

#include "core/error.hpp"
#include "ffi/python.hpp"

namespace torvex::ffi {

enum class TorvexException {
    ParseError,
    DecodeError,
    EncodeError,
    EnvVarError,
    SchemaError,
    IncludeError,
    ComplexKeyError,
    DuplicateKeyError,
    IncludeDepthError,
    SecretNotFoundError,
    UnserializableError,
    CircularIncludeError,
    IncludeNotFoundError,
    IncludeConfinementError,
};

// The class object (borrowed, cached forever), or null with the internal
// error set when torvex.exceptions cannot provide it.
PyObject* exception_class(TorvexException which);

// Sets the internal error, which derives from BaseException: a broken
// invariant or a missing companion package, never an input error.
void set_internal_error(std::string_view message);
inline constexpr std::string_view kUncaughtPanic = "uncaught panic at ffi boundary";

// Sets the Python exception for an engine error record. `file` overrides the
// record's own file for decoder errors (the path of the text that failed;
// absent for the call's own text). Always returns null, for `return raise_error(...)`.
PyObject* raise_error(const Error& error);

// Raises TorvexIncludeError(message) for a write-back that cannot be done,
// with `file`, `line` and `column` when the record has them.
PyObject* raise_write_back_error(const Error& error);

// Raises `cls(message)`: a convenience for the frame's own checks.
PyObject* raise_torvex(TorvexException which, std::string_view message);

}  // namespace torvex::ffi
