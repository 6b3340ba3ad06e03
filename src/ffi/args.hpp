// Argument parsing for the module's fast-call functions: one positional-only
// parameter followed by keyword-only parameters, with the interpreter's usual
// TypeError wording, and converters that add the "while processing '<name>'"
// note to a failed conversion.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "encode/dump_options.hpp"
#include "ffi/python.hpp"

namespace torvex::ffi {

inline constexpr std::size_t kMaxKeywords = 9;

struct Signature {
    const char* function;    // "loads"
    const char* positional;  // the one positional-only parameter, "data"
    std::initializer_list<const char*> keywords;
};

// Borrowed views of the call's arguments; absent keywords are null.
struct ParsedArgs {
    PyObject* positional = nullptr;
    PyObject* keywords[kMaxKeywords] = {};

    // The keyword at `index` (in signature order), or null when absent or None.
    PyObject* keyword(std::size_t index) const noexcept {
        PyObject* value = keywords[index];
        return value == Py_None ? nullptr : value;
    }
};

// Returns false with a TypeError set when the call does not fit the signature.
bool parse_args(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, ParsedArgs& out);

// Attaches "while processing '<name>'" to the exception being raised.
void add_parameter_note(const char* name);

// None (or absent) gives 0; otherwise __index__ and an unsigned 64-bit range
// check. On failure the error carries the parameter note and nothing is returned.
std::optional<std::uint64_t> convert_u64(PyObject* value, const char* name);

// str, bytes or os.PathLike, to a file-system path in the file-system encoding.
std::optional<std::string> convert_path(PyObject* value, const char* name);

// The null style the option word's null bits choose; ValueError when both are set.
std::optional<NullStyle> null_style_from_bits(std::uint64_t option);

// Type checks with the interpreter's wording and the parameter note.
bool require_str(PyObject* value, const char* function, const char* name);
bool require_dict(PyObject* value, const char* function, const char* name);

}  // namespace torvex::ffi
