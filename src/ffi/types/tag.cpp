#include "ffi/types/tag.hpp"

#include <atomic>
#include <cstddef>

#include "ffi/once.hpp"

namespace torvex::ffi {

namespace {

struct TagObject {
    PyObject_HEAD
    PyObject* tag;    // str
    PyObject* value;  // any object
};

std::atomic<PyObject*> g_tag_type{nullptr};

int tag_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* t = reinterpret_cast<TagObject*>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(t->tag);
    Py_VISIT(t->value);
    return 0;
}

int tag_clear(PyObject* self) {
    auto* t = reinterpret_cast<TagObject*>(self);
    Py_CLEAR(t->tag);
    Py_CLEAR(t->value);
    return 0;
}

void tag_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    tag_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* tag_alloc(PyTypeObject* type, PyObject* tag, PyObject* value) {
    if (!PyUnicode_Check(tag)) {
        PyErr_Format(PyExc_TypeError, "TorvexTag() argument 'tag' must be str, not %T", tag);
        return nullptr;
    }
    auto* self = reinterpret_cast<TagObject*>(type->tp_alloc(type, 0));
    if (self == nullptr) return nullptr;
    self->tag = Py_NewRef(tag);
    self->value = Py_NewRef(value);
    return reinterpret_cast<PyObject*>(self);
}

PyObject* tag_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"tag", "value", nullptr};
    PyObject* tag = nullptr;
    PyObject* value = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:TorvexTag", const_cast<char**>(keywords), &tag, &value)) {
        return nullptr;
    }
    return tag_alloc(type, tag, value);
}

PyObject* tag_repr(PyObject* self) {
    return PyUnicode_FromFormat("TorvexTag('%U', ...)", reinterpret_cast<TagObject*>(self)->tag);
}

PyMemberDef g_tag_members[] = {
    {"tag", Py_T_OBJECT_EX, offsetof(TagObject, tag), Py_READONLY, "The tag text, for example `!mytag`."},
    {"value", Py_T_OBJECT_EX, offsetof(TagObject, value), Py_READONLY, "The converted inner value."},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot g_tag_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "TorvexTag(tag, value)\n--\n\nA custom-tagged YAML value, returned when `OPT_PASSTHROUGH_TAG` "
                    "is set and\naccepted by `dumps` to emit a `!tag value` back out.\n\nHolds the original tag "
                    "(e.g. `!mytag`) and the resolved inner `value`.")},
    {Py_tp_new, reinterpret_cast<void*>(tag_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(tag_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(tag_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(tag_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(tag_repr)},
    {Py_tp_members, g_tag_members},
    {0, nullptr},
};

PyType_Spec g_tag_spec = {
    "torvex.TorvexTag",
    sizeof(TagObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    g_tag_slots,
};

}  // namespace

PyObject* tag_type() {
    return cached_once(g_tag_type, [] { return PyRef::steal(PyType_FromSpec(&g_tag_spec)); });
}

PyObject* new_tag(PyObject* tag, PyObject* value) {
    PyObject* type = tag_type();
    if (type == nullptr) return nullptr;
    return tag_alloc(reinterpret_cast<PyTypeObject*>(type), tag, value);
}

bool is_tag(PyObject* obj) {
    PyObject* type = g_tag_type.load(std::memory_order_acquire);
    return type != nullptr && Py_IS_TYPE(obj, reinterpret_cast<PyTypeObject*>(type));
}

PyObject* tag_text(PyObject* tag_object) { return reinterpret_cast<TagObject*>(tag_object)->tag; }
PyObject* tag_value(PyObject* tag_object) { return reinterpret_cast<TagObject*>(tag_object)->value; }

}  // namespace torvex::ffi
