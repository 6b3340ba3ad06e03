#include "ffi/convert/annotated_scalars.hpp"

#include <atomic>

#include "ffi/once.hpp"
#include "ffi/thread_memory.hpp"

namespace torvex::ffi {

namespace {

constexpr std::array<std::string_view, 5> kStyleNames = {"plain", "single", "double", "literal", "folded"};

// Interned once for the process: every annotated scalar names one of five.
PyObject* style_name(ScalarStyle style) {
    static std::atomic<PyObject*> names[kStyleNames.size()];
    const auto index = static_cast<std::size_t>(style);
    return cached_once(names[index], [&] { return PyRef::steal(PyUnicode_InternFromString(kStyleNames[index].data())); });
}

// A scalar made natively holds nothing but ints, strs and None, so it
// can be in no reference cycle: it leaves the collector's lists for good,
// as CPython's tuples of such values do, and no collection over the
// result visits it again (on small annotated loads those visits cost
// about as much as the load). A container stored into one of its fields
// later could close a cycle the collector does not see: a leak, never a
// dangling reference.
PyRef keep_untracked(PyRef made, const AnnotatedScalarMaker& m) {
    if (made && m.native() && PyObject_GC_IsTracked(made.get())) PyObject_GC_UnTrack(made.get());
    return made;
}

}  // namespace

PyRef AnnotatedScalars::value(ScalarClass which, PyRef plain, const AnnotationValues& at, ScalarStyle style) {
    if (!plain) return plain;
    AnnotatedScalarMaker* m = maker(which);
    ScalarFieldRefs refs;
    if (m == nullptr || !fields(at, style, refs)) return PyRef();
    return keep_untracked(m->make(plain.get(), refs), *m);
}

PyRef AnnotatedScalars::str(std::string_view text, const AnnotationValues& at, ScalarStyle style) {
    AnnotatedScalarMaker* m = maker(ScalarClass::Str);
    ScalarFieldRefs refs;
    if (m == nullptr || !fields(at, style, refs)) return PyRef();
    return keep_untracked(m->make_str(text, refs), *m);
}

AnnotatedScalarMaker* AnnotatedScalars::maker(ScalarClass which) {
    AnnotatedScalarMaker& m = shared_.makers[static_cast<std::size_t>(which)];
    if (!m.prepared() && !m.prepare(which)) return nullptr;
    return &m;
}

PositionInts* PositionInts::of_this_thread(PyRef& holder) {
    static std::atomic<PyObject*> dict_key{nullptr};
    return ffi::of_this_thread<PositionInts>("torvex.position_ints", dict_key, holder);
}

// Beyond the table, neighbouring scalars still share lines (a key and its
// value, a scalar's start and end), so the last few lines made are kept;
// offsets there never repeat within a load.
PyObject* AnnotatedScalars::position(std::uint64_t n, bool line) {
    if (n <= 256) return PyLong_FromUnsignedLongLong(n);  // CPython's own small ints
    if (n < PositionInts::kCount) {
        if (!ints_looked_up_) {
            ints_ = PositionInts::of_this_thread(ints_holder_);
            ints_looked_up_ = true;
        }
        if (ints_ != nullptr) return ints_->get(static_cast<std::uint32_t>(n));
    }
    if (!line) return PyLong_FromUnsignedLongLong(n);
    for (const auto& [value, object] : recent_lines_) {
        if (object && value == n) return Py_NewRef(object.get());
    }
    PyObject* made = PyLong_FromUnsignedLongLong(n);
    if (made != nullptr) {
        auto& slot = recent_lines_[next_line_++ % recent_lines_.size()];
        slot.first = n;
        slot.second = PyRef::borrow(made);
    }
    return made;
}

// The ten annotations of a scalar, in the constructor's order (see
// ScalarFields); the numbers are new references.
bool AnnotatedScalars::fields(const AnnotationValues& at, ScalarStyle style, ScalarFieldRefs& out) {
    PyObject* name = style_name(style);
    if (name == nullptr) return false;
    auto own = [&out](std::size_t index, PyObject* number) {
        if (number == nullptr) return false;
        out.own(index, number);
        return true;
    };
    if (!own(0, position(at.line, true)) || !own(1, position(at.column, false)) ||
        !own(3, position(at.end_line, true)) || !own(4, position(at.end_column, false)) ||
        !own(8, position(at.offset, false)) || !own(9, position(at.end_offset, false))) {
        return false;
    }
    auto or_none = [](PyObject* obj) { return obj != nullptr ? obj : Py_None; };
    out.borrow(2, or_none(at.file));
    out.borrow(5, name);
    out.borrow(6, or_none(at.source_tag));
    out.borrow(7, or_none(at.source_target));
    return true;
}

}  // namespace torvex::ffi
