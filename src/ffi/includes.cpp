// dump_includes and dump_includes_map: the texts of the files a round-trip
// document included.
#include "ffi/args.hpp"
#include "ffi/boundary.hpp"
#include "ffi/functions.hpp"

namespace torvex::ffi {

namespace {

const Signature kDumpIncludesSignature{"dump_includes", "doc", {"include_dir"}};
const Signature kDumpIncludesMapSignature{"dump_includes_map", "doc", {}};

}  // namespace

PyObject* py_dump_includes(PyObject*, PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        ParsedArgs args;
        if (!parse_args(kDumpIncludesSignature, argv, nargs, kwnames, args)) return nullptr;
        if (PyObject* dir = args.keyword(0)) {
            if (!convert_path(dir, "include_dir")) return nullptr;
        }
        PyErr_SetString(PyExc_NotImplementedError, "dump_includes() is not implemented yet");
        return nullptr;
    });
}

PyObject* py_dump_includes_map(PyObject*, PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        ParsedArgs args;
        if (!parse_args(kDumpIncludesMapSignature, argv, nargs, kwnames, args)) return nullptr;
        PyErr_SetString(PyExc_NotImplementedError, "dump_includes_map() is not implemented yet");
        return nullptr;
    });
}

}  // namespace torvex::ffi
