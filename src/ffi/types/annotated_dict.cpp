// TorvexAnnotatedDict: the dict an annotated load returns for a mapping.
#include <atomic>

#include "ffi/once.hpp"
#include "ffi/types/annotated.hpp"

namespace torvex::ffi {

namespace {

std::atomic<PyObject*> g_dict_type{nullptr};

AnnotationSlot& slot(PyObject* self) { return reinterpret_cast<AnnotatedDictObject*>(self)->slot; }

PyObject* dict_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    // The base allocates through the type (zeroed: every annotation 0 or None);
    // dict's own __init__ then takes the arguments.
    return PyDict_Type.tp_new(type, args, kwargs);
}

int dict_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    if (int r = visit_slot(slot(self), visit, arg)) return r;
    return PyDict_Type.tp_traverse(self, visit, arg);
}

int dict_clear(PyObject* self) {
    clear_slot(slot(self));
    return PyDict_Type.tp_clear(self);
}

void dict_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    clear_slot(slot(self));
    PyDict_Type.tp_dealloc(self);
    Py_DECREF(type);
}

// (type(self), (), state, None, iter(self.items()))
PyObject* dict_reduce(PyObject* self, PyObject*) {
    PyRef state = PyRef::steal(annotation_state(self));
    if (!state) return nullptr;
    PyRef items = PyRef::steal(PyObject_CallMethod(self, "items", nullptr));
    if (!items) return nullptr;
    PyRef iter = PyRef::steal(PyObject_GetIter(items.get()));
    if (!iter) return nullptr;
    return Py_BuildValue("(O()OOO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), state.get(), Py_None, iter.get());
}

PyMethodDef g_dict_methods[] = {
    {"__reduce__", dict_reduce, METH_NOARGS,
     "Pickling: (type(self), (), state, None, iter(self.items())); state holds the nine annotation fields."},
    {"__setstate__", annotation_setstate, METH_O,
     "Restores the nine annotation fields from a state tuple (line, column, file, end_line, end_column,\n"
     "source_tag, source_target, offset, end_offset)."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot g_dict_slots[] = {
    {Py_tp_doc,
     const_cast<char*>(
         "TorvexAnnotatedDict(*_args, **_kwargs)\n--\n\n"
         "A `dict` subclass carrying source-location metadata (`__line__`,\n`__column__`, `__file__`). Returned "
         "for mappings in annotated mode,\nmirroring Home Assistant's `NodeDictClass`.\n\nIt is a genuine `dict` "
         "subclass: constructible (`TorvexAnnotatedDict()`),\nand round-trips through `copy`/`deepcopy`/`pickle` "
         "like any plain subclass,\nso consumers (voluptuous's `data.__class__()`, `copy`, serializers) can use "
         "it\ndirectly without converting to a built-in `dict` first. `module` is set so\npickle can locate the "
         "class by reference.")},
    {Py_tp_new, reinterpret_cast<void*>(dict_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dict_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(dict_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(dict_clear)},
    {Py_tp_methods, g_dict_methods},
    {Py_tp_getset, g_annotation_getset},
    {0, nullptr},
};

PyType_Spec g_dict_spec = {
    "torvex.TorvexAnnotatedDict",
    sizeof(AnnotatedDictObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    g_dict_slots,
};

}  // namespace

PyObject* annotated_dict_type() {
    return cached_once(g_dict_type, [] {
        return PyRef::steal(PyType_FromSpecWithBases(&g_dict_spec, reinterpret_cast<PyObject*>(&PyDict_Type)));
    });
}

PyRef new_annotated_dict(const AnnotationValues& values) {
    PyObject* type = annotated_dict_type();
    if (type == nullptr) return PyRef();
    PyRef empty = PyRef::steal(PyTuple_New(0));
    if (!empty) return empty;
    PyRef dict = PyRef::steal(PyDict_Type.tp_new(reinterpret_cast<PyTypeObject*>(type), empty.get(), nullptr));
    if (dict) init_slot(slot(dict.get()), values);
    return dict;
}

}  // namespace torvex::ffi
