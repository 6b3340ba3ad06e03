// The package's annotated scalar classes (TorvexAnnotatedStr, TorvexAnnotatedInt,
// TorvexAnnotatedFloat, defined in Python) and how a load makes their instances.
//
// An annotated load makes one instance per scalar, so the way it is made
// matters. The classes' own __new__ (marked `_stores_fields_only` by the
// package) does two things: the base type's __new__ with the value, then ten
// stores into the instance's slots. Where the class is still that class
// (that __new__, no __init__, no __setattr__, a plain metaclass, the ten
// names slot members), the maker does the same two things natively: the base
// type's tp_new, then the ten references written at the members' offsets.
// Anything else (a patched __new__, a class without slots) is called.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ffi/py_ref.hpp"

namespace torvex::ffi {

enum class ScalarClass { Str, Int, Float };

// The class itself (borrowed, looked up once for the process), or null with the error set.
PyObject* annotated_scalar_class(ScalarClass which);

// The ten annotations after the value, in the constructor's order: line,
// column, file, end_line, end_column, style, source_tag, source_target,
// offset, end_offset. Borrowed, none null (None where absent).
inline constexpr std::size_t kScalarFields = 10;
using ScalarFields = std::array<PyObject*, kScalarFields>;

// The fields of one scalar and which of them are new references (the
// numbers a load makes for it). A natively made instance takes those over
// as they are, with no reference added and dropped per field; whatever is
// still owned when the fields go (a called class, a failure) is released.
class ScalarFieldRefs {
public:
    ScalarFieldRefs() = default;
    ScalarFieldRefs(const ScalarFieldRefs&) = delete;
    ScalarFieldRefs& operator=(const ScalarFieldRefs&) = delete;
    ~ScalarFieldRefs() {
        for (std::size_t i = 0; i < kScalarFields; ++i) {
            if ((owned_ >> i) & 1U) Py_DECREF(objects_[i]);
        }
    }

    // `obj` is borrowed and must outlive the fields.
    void borrow(std::size_t i, PyObject* obj) noexcept { objects_[i] = obj; }
    // `obj` is a new reference (not null).
    void own(std::size_t i, PyObject* obj) noexcept {
        objects_[i] = obj;
        owned_ |= 1U << i;
    }
    const ScalarFields& objects() const noexcept { return objects_; }
    // A reference to field i for a slot: the owned one handed over, else a new one.
    PyObject* take(std::size_t i) noexcept {
        if ((owned_ >> i) & 1U) {
            owned_ &= ~(1U << i);
            return objects_[i];
        }
        return Py_NewRef(objects_[i]);
    }

private:
    ScalarFields objects_{};
    std::uint32_t owned_ = 0;
};

// Makes instances of one class for the length of one conversion: how is
// decided once, so a class patched between loads is honoured.
class AnnotatedScalarMaker {
public:
    // False with the error set when the class cannot be looked up.
    bool prepare(ScalarClass which);
    bool prepared() const noexcept { return static_cast<bool>(cls_); }
    // Instances are made natively (and are then fresh objects nothing else holds).
    bool native() const noexcept { return path_ == Path::Native; }

    // cls(plain, *fields), or a null PyRef with the error set.
    PyRef make(PyObject* plain, ScalarFieldRefs& fields) const;
    // cls(text, *fields) for the str class, `text` being UTF-8 (null with the
    // error set if it is not): natively, without a plain str in between where
    // the text is ASCII.
    PyRef make_str(std::string_view text, ScalarFieldRefs& fields) const;

private:
    enum class Path { Native, New, Call };
    bool native_layout(PyTypeObject* type, PyTypeObject* base, ScalarClass which);
    PyRef make_native(PyObject* plain, ScalarFieldRefs& fields) const;
    void fill_slots(PyObject* made, ScalarFieldRefs& fields) const;

    PyRef cls_;
    PyRef callable_;  // Path::New: the class's __new__; Path::Call: the class
    Path path_ = Path::Call;
    PyTypeObject* base_ = nullptr;
    std::array<Py_ssize_t, kScalarFields> offsets_{};
};

}  // namespace torvex::ffi
