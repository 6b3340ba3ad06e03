// schema_ref and yaml_version: light scans of a text's head, without parsing.
#include <string>

#include "ffi/args.hpp"
#include "ffi/boundary.hpp"
#include "ffi/functions.hpp"
#include "ffi/input.hpp"
#include "schema/references.hpp"

namespace torvex::ffi {

namespace {

const Signature kSchemaRefSignature{"schema_ref", "data", {}};
const Signature kYamlVersionSignature{"yaml_version", "data", {}};

PyObject* text_or_none(const std::optional<std::string>& text) {
    if (!text) Py_RETURN_NONE;
    return PyUnicode_DecodeUTF8(text->data(), static_cast<Py_ssize_t>(text->size()), "strict");
}

}  // namespace

PyObject* py_schema_ref(PyObject*, PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        ParsedArgs args;
        if (!parse_args(kSchemaRefSignature, argv, nargs, kwnames, args)) return nullptr;
        const auto text = acquire_text(args.positional);
        if (!text) return nullptr;
        return text_or_none(find_schema_reference(text->view()));
    });
}

PyObject* py_yaml_version(PyObject*, PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        ParsedArgs args;
        if (!parse_args(kYamlVersionSignature, argv, nargs, kwnames, args)) return nullptr;
        const auto text = acquire_text(args.positional);
        if (!text) return nullptr;
        const auto version = find_yaml_version(text->view());
        if (!version) Py_RETURN_NONE;
        return PyUnicode_FromFormat("%u.%u", version->major, version->minor);
    });
}

}  // namespace torvex::ffi
