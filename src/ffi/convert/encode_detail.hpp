// Internals of the Python-to-value conversion, shared by the files of one
// type family each (encode_datetime, encode_object, encode_numpy, ...).
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/error.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/once.hpp"
#include "ffi/py_ref.hpp"
#include "ffi/str_utf8.hpp"

namespace torvex::ffi::encode {

// Holds a per-object critical section on a free-threaded interpreter and
// nothing otherwise. Ends on every path, a C++ exception included. No user
// code may run while one is held.
class CriticalSection {
public:
    explicit CriticalSection(PyObject* obj) noexcept {
#ifdef Py_GIL_DISABLED
        PyCriticalSection_Begin(&section_, obj);
#else
        (void)obj;
#endif
    }
    ~CriticalSection() {
#ifdef Py_GIL_DISABLED
        PyCriticalSection_End(&section_);
#endif
    }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

private:
#ifdef Py_GIL_DISABLED
    PyCriticalSection section_;
#endif
};

// None and the exact str, int, float and bool: recognised by their type
// alone and converted without any call that could reach user code.
enum class Leaf : std::uint8_t { No, None, Str, Int, Float, Bool };

inline Leaf classify(PyObject* obj) noexcept {
    PyTypeObject* type = Py_TYPE(obj);
    if (type == &PyUnicode_Type) return Leaf::Str;
    if (type == &PyLong_Type) return Leaf::Int;
    if (type == &PyFloat_Type) return Leaf::Float;
    if (obj == Py_None) return Leaf::None;
    if (type == &PyBool_Type) return Leaf::Bool;
    return Leaf::No;
}

// Leaves that may be converted while a list's or dict's critical section is
// held. On a free-threaded interpreter, filling the cached UTF-8 form of a
// non-ASCII str takes the str's own critical section, which can suspend the
// one held on the container and let another thread change it; such strings
// are taken by strong reference and converted after the section is left.
inline Leaf classify_in_section(PyObject* obj) noexcept {
    const Leaf kind = classify(obj);
#ifdef Py_GIL_DISABLED
    if (kind == Leaf::Str && !PyUnicode_IS_COMPACT_ASCII(obj)) return Leaf::No;
#endif
    return kind;
}

inline constexpr const char* kTooDeep = "object is too deeply nested to serialize (possible self-reference)";


// How a type-family rule ended: it produced the value, it does not apply to
// the object (the next rule is tried), or it failed with an error set.
enum class Outcome { Done, NoMatch, Failed };

class Encoder {
public:
    Encoder(const EncodeOptions& options, EncodedTape& out) noexcept
        : options_(options), tape_(out.tape), texts_(out.texts) {}

    // Appends the subtree of obj, which the caller keeps alive. False on
    // failure: either a Python exception is set or error() holds an engine
    // error.
    bool convert(PyObject* obj, unsigned depth);
    // Records an engine error (raised as a Torvex exception at the end) and returns false.
    bool fail(ErrorKind kind, std::string message);
    const EncodeOptions& options() const noexcept { return options_; }
    std::optional<Error>& error() noexcept { return error_; }

    // Output for the type families: a node with a copy of `text`, and
    // collections, opened with their header and closed with their count.
    void put_text(TapeNode::Kind kind, std::string_view text);
    std::size_t open(TapeNode::Kind kind) { return tape_.open(kind); }
    void close(std::size_t header, std::uint64_t count) { tape_.close(header, count); }
    // Once converting is done and the text buffer can no longer move: turns
    // the text offsets recorded while converting into pointers.
    void finish() noexcept;

private:
    bool put_leaf(PyObject* obj, Leaf kind);
    bool put_int(PyObject* obj);
    bool put_str(PyObject* str);
    bool convert_other(PyObject* obj, unsigned depth);
    bool convert_list(PyObject* list, unsigned depth);
    bool convert_tuple(PyObject* tuple, unsigned depth);
    bool convert_iterable(PyObject* obj, unsigned depth);
    bool convert_dict(PyObject* dict, unsigned depth);
    bool convert_tag(PyObject* tag_object, unsigned depth);
    Outcome convert_by_tags(PyObject* obj, unsigned depth);
    bool convert_tagged(PyObject* tag_text, PyObject* inner, unsigned depth);
    bool unserializable(PyObject* obj);

    const EncodeOptions& options_;
    Tape& tape_;
    std::vector<char>& texts_;
    std::optional<Error> error_;
};

// The UTF-8 text of a str (or subclass), without a temporary object; null
// with UnicodeEncodeError set for lone surrogates.
inline const char* utf8_of(PyObject* str, std::string_view& out) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data != nullptr) out = std::string_view(data, static_cast<std::size_t>(size));
    return data;
}

// The UTF-8 text of a str or str subclass: compact ASCII strings are read in
// place, others through the interpreter's cached UTF-8 form.
inline bool str_text(PyObject* str, std::string_view& text) {
    if (PyUnicode_IS_COMPACT_ASCII(str)) {
        text = ascii_text(str);
        return true;
    }
    return utf8_of(str, text) != nullptr;
}

// A str made once per process and interned, for attribute and method names.
inline PyObject* interned(std::atomic<PyObject*>& slot, const char* text) {
    return cached_once(slot, [text] { return PyRef::steal(PyUnicode_InternFromString(text)); });
}

// Type families, tried in this order after the built-in types, TorvexTag and `tags`.
Outcome encode_datetime(Encoder& encoder, PyObject* obj);
Outcome encode_enum(Encoder& encoder, PyObject* obj, unsigned depth);
Outcome encode_dataclass(Encoder& encoder, PyObject* obj, unsigned depth);
Outcome encode_numpy(Encoder& encoder, PyObject* obj, unsigned depth);
Outcome encode_uuid(Encoder& encoder, PyObject* obj);
Outcome encode_path(Encoder& encoder, PyObject* obj);

// The text a date, time or date-time is written as, from its isoformat()
// text and the date options.
std::string iso_text(std::string_view iso, const EncodeOptions& options);

}  // namespace torvex::ffi::encode
