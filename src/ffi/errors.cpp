#include "ffi/errors.hpp"

#include <atomic>
#include <string>

#include "ffi/once.hpp"
#include "ffi/py_ref.hpp"

namespace torvex::ffi {

namespace {

constexpr const char* kExceptionNames[] = {
    "TorvexParseError",          "TorvexDecodeError",           "TorvexEncodeError",
    "TorvexEnvVarError",         "TorvexSchemaError",           "TorvexIncludeError",
    "TorvexComplexKeyError",     "TorvexDuplicateKeyError",     "TorvexIncludeDepthError",
    "TorvexSecretNotFoundError", "TorvexUnserializableError",   "TorvexCircularIncludeError",
    "TorvexIncludeNotFoundError", "TorvexIncludeConfinementError",
};
constexpr std::size_t kExceptionCount = sizeof kExceptionNames / sizeof kExceptionNames[0];

std::atomic<PyObject*> g_exception_classes[kExceptionCount];
std::atomic<PyObject*> g_internal_error_type{nullptr};

PyObject* internal_error_type() {
    return cached_once(g_internal_error_type, [] {
        return PyRef::steal(PyErr_NewExceptionWithDoc(
            "torvex.TorvexInternalError",
            "A fault inside torvex itself (a broken invariant or a missing companion package).",
            PyExc_BaseException, nullptr));
    });
}

PyObject* unicode(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

// setattr that never fails the call: a refusing attribute is simply left out.
void set_attribute(PyObject* instance, const char* name, PyRef value) {
    if (!value) {
        PyErr_Clear();
        return;
    }
    if (PyObject_SetAttrString(instance, name, value.get()) < 0) PyErr_Clear();
}

PyRef optional_text(const std::optional<std::string>& text) {
    if (!text) return PyRef::borrow(Py_None);
    return PyRef::steal(unicode(*text));
}

// Builds cls(message) and raises it; `decorate` then sets attributes on it.
template <class Decorate>
PyObject* raise_with(TorvexException which, const std::string& message, Decorate decorate) {
    PyObject* cls = exception_class(which);
    if (cls == nullptr) return nullptr;
    PyRef text = PyRef::steal(unicode(message));
    if (!text) return nullptr;
    PyRef instance = PyRef::steal(PyObject_CallOneArg(cls, text.get()));
    if (!instance) return nullptr;
    decorate(instance.get());
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(instance.get())), instance.get());
    return nullptr;
}

std::string with_position(const Error& error) {
    std::string message = error.message;
    if (error.span) {
        message += " at line " + std::to_string(error.span->line + 1) + ", column " +
                   std::to_string(error.span->column + 1);
    }
    return message;
}

void set_position(PyObject* instance, const Error& error) {
    if (!error.span) return;
    set_attribute(instance, "line", PyRef::steal(PyLong_FromUnsignedLong(error.span->line + 1UL)));
    set_attribute(instance, "column", PyRef::steal(PyLong_FromUnsignedLong(error.span->column + 1UL)));
}

TorvexException directive_class(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::IncludeNotFound: return TorvexException::IncludeNotFoundError;
        case ErrorKind::CircularInclude: return TorvexException::CircularIncludeError;
        case ErrorKind::IncludeDepth: return TorvexException::IncludeDepthError;
        case ErrorKind::IncludeConfinement: return TorvexException::IncludeConfinementError;
        case ErrorKind::SecretNotFound: return TorvexException::SecretNotFoundError;
        case ErrorKind::EnvVarNotFound: return TorvexException::EnvVarError;
        default: return TorvexException::IncludeError;
    }
}

// `msg`: the message alone, without the position, file or include chain the
// full text adds, for callers that print the position their own way.
void set_bare_message(PyObject* instance, std::string_view message) {
    set_attribute(instance, "msg", PyRef::steal(unicode(message)));
}

PyObject* raise_positional(TorvexException which, const Error& error) {
    return raise_with(which, with_position(error), [&](PyObject* e) {
        set_bare_message(e, error.message);
        set_attribute(e, "file", optional_text(error.file));
        set_position(e, error);
    });
}

PyObject* raise_directive(const Error& error) {
    std::string message = error.message + " in " + error.file.value_or("");
    for (const auto& frame : error.include_stack) {
        message += "\n  included from " + frame.path + ", line " + std::to_string(frame.line + 1UL);
    }
    return raise_with(directive_class(error.kind), message, [&](PyObject* e) {
        set_bare_message(e, error.message);
        set_attribute(e, "file", optional_text(error.file));
        set_position(e, error);
        PyRef stack = PyRef::steal(PyList_New(0));
        for (const auto& frame : error.include_stack) {
            if (!stack) break;
            PyRef entry = PyRef::steal(Py_BuildValue("(Nk)", unicode(frame.path), frame.line + 1UL));
            if (!entry || PyList_Append(stack.get(), entry.get()) < 0) stack = PyRef();
        }
        set_attribute(e, "include_stack", std::move(stack));
    });
}

PyObject* raise_schema(const Error& error) {
    std::string message = "schema validation failed: " + error.message + " at " + error.schema_path;
    const std::string bare = message;
    if (error.span) {
        message += " (line " + std::to_string(error.span->line + 1UL) + ", column " +
                   std::to_string(error.span->column + 1UL) + ")";
    }
    return raise_with(TorvexException::SchemaError, message, [&](PyObject* e) {
        set_bare_message(e, bare);
        set_attribute(e, "schema_path", PyRef::steal(unicode(error.schema_path)));
        set_position(e, error);
        if (error.file) set_attribute(e, "file", optional_text(error.file));  // a violation in an included file
    });
}

}  // namespace

PyObject* exception_class(TorvexException which) {
    const auto index = static_cast<std::size_t>(which);
    const char* name = kExceptionNames[index];
    return cached_once(g_exception_classes[index], [name] {
        PyRef module = PyRef::steal(PyImport_ImportModule("torvex.exceptions"));
        PyRef cls = module ? PyRef::steal(PyObject_GetAttrString(module.get(), name)) : PyRef();
        if (cls && !PyExceptionClass_Check(cls.get())) {
            PyErr_Format(PyExc_TypeError, "torvex.exceptions.%s is not an exception class", name);
            cls = PyRef();
        }
        if (!cls) {
            // Report the lookup failure as the internal error, carrying its text.
            PyObject* raised = PyErr_GetRaisedException();
            PyRef reason = PyRef::steal(raised ? PyObject_Str(raised) : nullptr);
            Py_XDECREF(raised);
            std::string message = std::string("failed to import exception torvex.exceptions.") + name + ": ";
            if (reason) {
                Py_ssize_t size = 0;
                if (const char* utf8 = PyUnicode_AsUTF8AndSize(reason.get(), &size)) message.append(utf8, size);
            }
            PyErr_Clear();
            set_internal_error(message);
        }
        return cls;
    });
}

void set_internal_error(std::string_view message) {
    PyObject* type = internal_error_type();
    if (type == nullptr) return;  // creating the class failed; its error is set
    PyRef text = PyRef::steal(unicode(message.empty() ? kUncaughtPanic : message));
    if (text) PyErr_SetObject(type, text.get());
}

PyObject* raise_torvex(TorvexException which, std::string_view message) {
    return raise_with(which, std::string(message), [](PyObject*) {});
}

PyObject* raise_write_back_error(const Error& error) {
    return raise_with(TorvexException::IncludeError, error.message, [&](PyObject* e) {
        set_bare_message(e, error.message);
        if (error.file) set_attribute(e, "file", optional_text(error.file));
        set_position(e, error);
    });
}

PyObject* raise_error(const Error& error) {
    switch (error.kind) {
        case ErrorKind::Syntax: return raise_positional(TorvexException::ParseError, error);
        case ErrorKind::DuplicateKey: return raise_positional(TorvexException::DuplicateKeyError, error);
        case ErrorKind::ComplexKey: return raise_positional(TorvexException::ComplexKeyError, error);
        case ErrorKind::IncludeNotFound:
        case ErrorKind::CircularInclude:
        case ErrorKind::IncludeDepth:
        case ErrorKind::IncludeConfinement:
        case ErrorKind::SecretNotFound:
        case ErrorKind::EnvVarNotFound:
        case ErrorKind::DirectiveOther: return raise_directive(error);
        case ErrorKind::Schema: return raise_schema(error);
        case ErrorKind::Unhashable:
            return raise_torvex(TorvexException::DecodeError, "mapping key is not hashable in Python");
        case ErrorKind::Unserializable: return raise_torvex(TorvexException::UnserializableError, error.message);
        case ErrorKind::Encode: return raise_torvex(TorvexException::EncodeError, error.message);
        case ErrorKind::InvalidText: {
            PyRef text = PyRef::steal(unicode(error.message));
            if (text) PyErr_SetObject(PyExc_ValueError, text.get());
            return nullptr;
        }
    }
    set_internal_error("unknown engine error kind");
    return nullptr;
}

}  // namespace torvex::ffi
