#include "ffi/warnings.hpp"

#include "ffi/py_ref.hpp"

namespace torvex::ffi {

void log_warning(std::string_view message) {
    // Keep an exception that is already in flight (if any) intact.
    PyObject* pending = PyErr_GetRaisedException();
    PyRef logging = PyRef::steal(PyImport_ImportModule("logging"));
    PyRef logger = logging ? PyRef::steal(PyObject_CallMethod(logging.get(), "getLogger", "s", "torvex")) : PyRef();
    PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (logger && text) {
        PyRef name = PyRef::steal(PyUnicode_FromString("warning"));
        PyRef result = name ? PyRef::steal(PyObject_CallMethodOneArg(logger.get(), name.get(), text.get())) : PyRef();
    }
    PyErr_Clear();
    PyErr_SetRaisedException(pending);
}

}  // namespace torvex::ffi
