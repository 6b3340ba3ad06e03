#include "ffi/args.hpp"

#include "ffi/options.hpp"

#include "ffi/py_ref.hpp"

namespace torvex::ffi {

namespace {

bool name_is(PyObject* name, const char* expected) { return PyUnicode_EqualToUTF8(name, expected) == 1; }

}  // namespace

bool parse_args(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, ParsedArgs& out) {
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nargs != 1) {
        if (nargs == 0) {
            for (Py_ssize_t i = 0; i < nkw; ++i) {
                if (name_is(PyTuple_GET_ITEM(kwnames, i), sig.positional)) {
                    PyErr_Format(PyExc_TypeError,
                                 "%s() got some positional-only arguments passed as keyword arguments: '%s'",
                                 sig.function, sig.positional);
                    return false;
                }
            }
        }
        PyErr_Format(PyExc_TypeError, "%s() takes exactly 1 positional argument (%zd given)", sig.function, nargs);
        return false;
    }
    out.positional = args[0];
    for (Py_ssize_t i = 0; i < nkw; ++i) {
        PyObject* name = PyTuple_GET_ITEM(kwnames, i);
        std::size_t index = 0;
        bool found = false;
        for (const char* keyword : sig.keywords) {
            if (name_is(name, keyword)) {
                found = true;
                break;
            }
            ++index;
        }
        if (!found) {
            if (name_is(name, sig.positional)) {
                PyErr_Format(PyExc_TypeError,
                             "%s() got some positional-only arguments passed as keyword arguments: '%s'",
                             sig.function, sig.positional);
            } else {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.function, name);
            }
            return false;
        }
        if (out.keywords[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%U'", sig.function, name);
            return false;
        }
        out.keywords[index] = args[nargs + i];
    }
    return true;
}

void add_parameter_note(const char* name) {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised == nullptr) return;
    PyRef note = PyRef::steal(PyUnicode_FromFormat("while processing '%s'", name));
    PyRef method = PyRef::steal(PyUnicode_FromString("add_note"));
    PyRef result = (note && method) ? PyRef::steal(PyObject_CallMethodOneArg(raised, method.get(), note.get()))
                                    : PyRef();
    if (!result) PyErr_Clear();  // the original exception matters more than its note
    PyErr_SetRaisedException(raised);
}

std::optional<std::uint64_t> convert_u64(PyObject* value, const char* name) {
    if (value == nullptr || value == Py_None) return 0;
    PyRef index = PyRef::steal(PyNumber_Index(value));
    if (index) {
        const unsigned long long result = PyLong_AsUnsignedLongLong(index.get());
        if (!(result == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
            return static_cast<std::uint64_t>(result);
        }
    }
    add_parameter_note(name);
    return std::nullopt;
}

std::optional<std::string> convert_path(PyObject* value, const char* name) {
    PyObject* raw = nullptr;
    if (!PyUnicode_FSConverter(value, &raw)) {
        add_parameter_note(name);
        return std::nullopt;
    }
    PyRef bytes = PyRef::steal(raw);
    return std::string(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

std::optional<NullStyle> null_style_from_bits(std::uint64_t option) {
    const bool keyword = option & OPT_NULL_AS_KEYWORD;
    const bool tilde = option & OPT_NULL_AS_TILDE;
    if (keyword && tilde) {
        PyErr_SetString(PyExc_ValueError, "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive");
        return std::nullopt;
    }
    if (keyword) return NullStyle::Keyword;
    if (tilde) return NullStyle::Tilde;
    return NullStyle::Empty;
}

bool require_str(PyObject* value, const char* function, const char* name) {
    if (PyUnicode_Check(value)) return true;
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str, not %T", function, name, value);
    add_parameter_note(name);
    return false;
}

bool require_dict(PyObject* value, const char* function, const char* name) {
    if (PyDict_Check(value)) return true;
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be dict, not %T", function, name, value);
    add_parameter_note(name);
    return false;
}

}  // namespace torvex::ffi
