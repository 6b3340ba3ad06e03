// The annotation fields shared by TorvexAnnotatedDict and TorvexAnnotatedList:
// the read-only attributes, the pickling state, and the borrow flag that
// guards them.
#include <cstdint>
#include <utility>

#include "ffi/types/annotated.hpp"

namespace torvex::ffi {

namespace {

// A shared borrow of a slot for reading, or nothing (error set) while
// __setstate__ holds it.
class SharedBorrow {
public:
    explicit SharedBorrow(AnnotationSlot& slot) : slot_(slot) {
        std::int32_t current = slot_.borrow.load(std::memory_order_acquire);
        while (current >= 0) {
            if (slot_.borrow.compare_exchange_weak(current, current + 1, std::memory_order_acq_rel)) {
                held_ = true;
                return;
            }
        }
        PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    }
    ~SharedBorrow() {
        if (held_) slot_.borrow.fetch_sub(1, std::memory_order_acq_rel);
    }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    explicit operator bool() const noexcept { return held_; }

private:
    AnnotationSlot& slot_;
    bool held_ = false;
};

enum Field : std::intptr_t {
    kLine,
    kColumn,
    kFile,
    kEndLine,
    kEndColumn,
    kOffset,
    kEndOffset,
    kSourceTag,
    kSourceTarget,
    kIsSecret,
    kIsEnvVar,
    kIsInclude,
};

PyObject* or_none(PyObject* obj) { return Py_NewRef(obj != nullptr ? obj : Py_None); }

bool tag_is(PyObject* tag, const char* text) { return tag != nullptr && PyUnicode_EqualToUTF8(tag, text) == 1; }

bool is_include_tag(PyObject* tag) {
    for (const char* name : {"!include", "!include_dir_list", "!include_dir_named", "!include_dir_merge_list",
                             "!include_dir_merge_named"}) {
        if (tag_is(tag, name)) return true;
    }
    return false;
}

PyObject* get_field(PyObject* self, void* closure) {
    AnnotationSlot& slot = slot_of(self);
    SharedBorrow borrow(slot);
    if (!borrow) return nullptr;
    switch (static_cast<Field>(reinterpret_cast<std::intptr_t>(closure))) {
        case kLine: return PyLong_FromUnsignedLong(slot.line);
        case kColumn: return PyLong_FromUnsignedLong(slot.column);
        case kFile: return or_none(slot.file);
        case kEndLine: return PyLong_FromUnsignedLong(slot.end_line);
        case kEndColumn: return PyLong_FromUnsignedLong(slot.end_column);
        case kOffset: return PyLong_FromUnsignedLongLong(slot.offset);
        case kEndOffset: return PyLong_FromUnsignedLongLong(slot.end_offset);
        case kSourceTag: return or_none(slot.source_tag);
        case kSourceTarget: return or_none(slot.source_target);
        case kIsSecret: return PyBool_FromLong(tag_is(slot.source_tag, "!secret"));
        case kIsEnvVar: return PyBool_FromLong(tag_is(slot.source_tag, "!env_var"));
        case kIsInclude: return PyBool_FromLong(is_include_tag(slot.source_tag));
    }
    Py_RETURN_NONE;
}

void* field(Field f) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(f)); }

// Parsed from a state tuple before anything is replaced.
struct ParsedState {
    AnnotationValues values;
};

bool read_u32(PyObject* item, std::uint32_t& out) {
    const unsigned long v = PyLong_AsUnsignedLong(item);
    if (v == static_cast<unsigned long>(-1) && PyErr_Occurred()) return false;
    if (v > UINT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "annotation line or column out of range");
        return false;
    }
    out = static_cast<std::uint32_t>(v);
    return true;
}

bool read_u64(PyObject* item, std::uint64_t& out) {
    const unsigned long long v = PyLong_AsUnsignedLongLong(item);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool read_text(PyObject* item, PyObject*& out, const char* what) {
    if (item == Py_None) {
        out = nullptr;
        return true;
    }
    if (!PyUnicode_Check(item)) {
        PyErr_Format(PyExc_TypeError, "annotation %s must be str or None, not %T", what, item);
        return false;
    }
    out = item;
    return true;
}

}  // namespace

AnnotationSlot& slot_of(PyObject* self) {
    if (PyDict_Check(self)) return reinterpret_cast<AnnotatedDictObject*>(self)->slot;
    return reinterpret_cast<AnnotatedListObject*>(self)->slot;
}

PyGetSetDef g_annotation_getset[] = {
    {"__line__", get_field, nullptr, "1-based line where the node starts.", field(kLine)},
    {"__column__", get_field, nullptr, "1-based column where the node starts.", field(kColumn)},
    {"__file__", get_field, nullptr, "Path of the source file, or None for the text passed to the call.",
     field(kFile)},
    {"__end_line__", get_field, nullptr, "1-based line just past the node's last character.", field(kEndLine)},
    {"__end_column__", get_field, nullptr, "1-based column just past the node's last character.",
     field(kEndColumn)},
    {"__offset__", get_field, nullptr, "Byte offset of the node's first character.", field(kOffset)},
    {"__end_offset__", get_field, nullptr, "Byte offset just past the node's last character.", field(kEndOffset)},
    {"__source_tag__", get_field, nullptr, "The directive or custom tag that produced the node, or None.",
     field(kSourceTag)},
    {"__source_target__", get_field, nullptr, "The directive's argument (secret name, include path, ...), or None.",
     field(kSourceTarget)},
    {"is_secret", get_field, nullptr, "The node came from `!secret`.", field(kIsSecret)},
    {"is_env_var", get_field, nullptr, "The node came from `!env_var`.", field(kIsEnvVar)},
    {"is_include", get_field, nullptr, "The node came from `!include` or one of the `!include_dir_*` tags.",
     field(kIsInclude)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

void init_slot(AnnotationSlot& slot, const AnnotationValues& values) {
    slot.line = values.line;
    slot.column = values.column;
    slot.end_line = values.end_line;
    slot.end_column = values.end_column;
    slot.offset = values.offset;
    slot.end_offset = values.end_offset;
    slot.file = Py_XNewRef(values.file);
    slot.source_tag = Py_XNewRef(values.source_tag);
    slot.source_target = Py_XNewRef(values.source_target);
}

void clear_slot(AnnotationSlot& slot) {
    Py_CLEAR(slot.file);
    Py_CLEAR(slot.source_tag);
    Py_CLEAR(slot.source_target);
}

int visit_slot(AnnotationSlot& slot, visitproc visit, void* arg) {
    Py_VISIT(slot.file);
    Py_VISIT(slot.source_tag);
    Py_VISIT(slot.source_target);
    return 0;
}

PyObject* annotation_state(PyObject* self) {
    AnnotationSlot& slot = slot_of(self);
    SharedBorrow borrow(slot);
    if (!borrow) return nullptr;
    return Py_BuildValue("(kkNkkNNKK)", static_cast<unsigned long>(slot.line),
                         static_cast<unsigned long>(slot.column), or_none(slot.file),
                         static_cast<unsigned long>(slot.end_line), static_cast<unsigned long>(slot.end_column),
                         or_none(slot.source_tag), or_none(slot.source_target),
                         static_cast<unsigned long long>(slot.offset),
                         static_cast<unsigned long long>(slot.end_offset));
}

PyObject* annotation_setstate(PyObject* self, PyObject* state) {
    if (!PyTuple_Check(state) || PyTuple_GET_SIZE(state) != 9) {
        PyErr_SetString(PyExc_TypeError,
                        "__setstate__ expects a 9-tuple (line, column, file, end_line, end_column, source_tag, "
                        "source_target, offset, end_offset)");
        return nullptr;
    }
    AnnotationValues v;
    PyObject* const* item = &PyTuple_GET_ITEM(state, 0);
    if (!read_u32(item[0], v.line) || !read_u32(item[1], v.column) || !read_text(item[2], v.file, "file") ||
        !read_u32(item[3], v.end_line) || !read_u32(item[4], v.end_column) ||
        !read_text(item[5], v.source_tag, "source_tag") || !read_text(item[6], v.source_target, "source_target") ||
        !read_u64(item[7], v.offset) || !read_u64(item[8], v.end_offset)) {
        return nullptr;
    }
    AnnotationSlot& slot = slot_of(self);
    std::int32_t expected = 0;
    if (!slot.borrow.compare_exchange_strong(expected, -1, std::memory_order_acq_rel)) {
        PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
        return nullptr;
    }
    // Swapped under the exclusive borrow; the old references are dropped
    // after it is released, as dropping them may run arbitrary code.
    PyObject* old[] = {slot.file, slot.source_tag, slot.source_target};
    init_slot(slot, v);
    slot.borrow.store(0, std::memory_order_release);
    for (PyObject* obj : old) Py_XDECREF(obj);
    Py_RETURN_NONE;
}

}  // namespace torvex::ffi
