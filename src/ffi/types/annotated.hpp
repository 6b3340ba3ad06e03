// TorvexAnnotatedDict and TorvexAnnotatedList: dict and list subclasses that
// carry where their node stood in the source. The fields sit behind the
// instance's own borrow flag, so reading them on several threads is safe while
// __setstate__ replaces them.
#pragma once

#include <atomic>
#include <cstdint>

#include "ffi/py_ref.hpp"

namespace torvex::ffi {

// The annotation fields. Lines and columns are 1-based, as Python sees them.
struct AnnotationValues {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    std::uint32_t end_line = 0;
    std::uint32_t end_column = 0;
    std::uint64_t offset = 0;
    std::uint64_t end_offset = 0;
    PyObject* file = nullptr;           // borrowed str, or null for None
    PyObject* source_tag = nullptr;     // borrowed str, or null for None
    PyObject* source_target = nullptr;  // borrowed str, or null for None
};

// Stored in each instance after the base object. Zeroed memory is a valid
// empty record (every field 0 or None, not borrowed).
struct AnnotationSlot {
    std::atomic<std::int32_t> borrow;  // readers count up; __setstate__ holds -1
    std::uint32_t line;
    std::uint32_t column;
    std::uint32_t end_line;
    std::uint32_t end_column;
    std::uint64_t offset;
    std::uint64_t end_offset;
    PyObject* file;  // strong references, null meaning None
    PyObject* source_tag;
    PyObject* source_target;
};

struct AnnotatedDictObject {
    PyDictObject base;
    AnnotationSlot slot;
};

struct AnnotatedListObject {
    PyListObject base;
    AnnotationSlot slot;
};

// The class objects (borrowed, created once for the process), or null with the error set.
PyObject* annotated_dict_type();
PyObject* annotated_list_type();

// Empty instances carrying `values`.
PyRef new_annotated_dict(const AnnotationValues& values);
PyRef new_annotated_list(const AnnotationValues& values);

// ---- shared by the two classes (annotation.cpp) ----

// Fills a zeroed slot; takes new references to the objects.
void init_slot(AnnotationSlot& slot, const AnnotationValues& values);
// Drops the references (dealloc and tp_clear).
void clear_slot(AnnotationSlot& slot);
int visit_slot(AnnotationSlot& slot, visitproc visit, void* arg);

// Attribute getters and the __setstate__ state tuple. `slot_of` finds the
// slot of an instance of either class.
AnnotationSlot& slot_of(PyObject* self);
extern PyGetSetDef g_annotation_getset[];
PyObject* annotation_state(PyObject* self);             // the 9-tuple, or null with the error set
PyObject* annotation_setstate(PyObject* self, PyObject* state);  // None, or null with the error set

}  // namespace torvex::ffi
