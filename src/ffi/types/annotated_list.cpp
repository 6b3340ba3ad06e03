// TorvexAnnotatedList: the list an annotated load returns for a sequence.
#include <atomic>

#include "ffi/once.hpp"
#include "ffi/types/annotated.hpp"

namespace torvex::ffi {

namespace {

std::atomic<PyObject*> g_list_type{nullptr};

AnnotationSlot& slot(PyObject* self) { return reinterpret_cast<AnnotatedListObject*>(self)->slot; }

PyObject* list_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    // The base allocates through the type (zeroed: every annotation 0 or None);
    // list's own __init__ then takes the arguments.
    return PyList_Type.tp_new(type, args, kwargs);
}

int list_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    if (int r = visit_slot(slot(self), visit, arg)) return r;
    return PyList_Type.tp_traverse(self, visit, arg);
}

int list_clear(PyObject* self) {
    clear_slot(slot(self));
    return PyList_Type.tp_clear(self);
}

void list_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    clear_slot(slot(self));
    PyList_Type.tp_dealloc(self);
    Py_DECREF(type);
}

// (type(self), (), state, iter(self), None)
PyObject* list_reduce(PyObject* self, PyObject*) {
    PyRef state = PyRef::steal(annotation_state(self));
    if (!state) return nullptr;
    PyRef iter = PyRef::steal(PyObject_GetIter(self));
    if (!iter) return nullptr;
    return Py_BuildValue("(O()OOO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), state.get(), iter.get(), Py_None);
}

PyMethodDef g_list_methods[] = {
    {"__reduce__", list_reduce, METH_NOARGS,
     "Pickling: (type(self), (), state, iter(self), None); state holds the nine annotation fields."},
    {"__setstate__", annotation_setstate, METH_O,
     "Restores the nine annotation fields from a state tuple (line, column, file, end_line, end_column,\n"
     "source_tag, source_target, offset, end_offset)."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot g_list_slots[] = {
    {Py_tp_doc,
     const_cast<char*>(
         "TorvexAnnotatedList(*_args, **_kwargs)\n--\n\n"
         "A `list` subclass carrying source-location metadata, mirroring Home\nAssistant's `NodeListClass`. Like "
         "[`TorvexAnnotatedDict`], it is a genuine\n`list` subclass: constructible and "
         "`copy`/`deepcopy`/`pickle`-able.")},
    {Py_tp_new, reinterpret_cast<void*>(list_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(list_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(list_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(list_clear)},
    {Py_tp_methods, g_list_methods},
    {Py_tp_getset, g_annotation_getset},
    {0, nullptr},
};

PyType_Spec g_list_spec = {
    "torvex.TorvexAnnotatedList",
    sizeof(AnnotatedListObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    g_list_slots,
};

}  // namespace

PyObject* annotated_list_type() {
    return cached_once(g_list_type, [] {
        return PyRef::steal(PyType_FromSpecWithBases(&g_list_spec, reinterpret_cast<PyObject*>(&PyList_Type)));
    });
}

PyRef new_annotated_list(const AnnotationValues& values) {
    PyObject* type = annotated_list_type();
    if (type == nullptr) return PyRef();
    PyRef empty = PyRef::steal(PyTuple_New(0));
    if (!empty) return empty;
    PyRef list = PyRef::steal(PyList_Type.tp_new(reinterpret_cast<PyTypeObject*>(type), empty.get(), nullptr));
    if (list) init_slot(slot(list.get()), values);
    return list;
}

}  // namespace torvex::ffi
