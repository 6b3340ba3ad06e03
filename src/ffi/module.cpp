// The extension module _torvex: multi-phase initialisation, one exec slot
// that publishes the functions, the option flags and the classes.
#include "ffi/boundary.hpp"
#include "ffi/functions.hpp"
#include "ffi/options.hpp"
#include "ffi/py_ref.hpp"
#include "ffi/types/annotated.hpp"
#include "ffi/types/roundtrip_objects.hpp"
#include "ffi/types/tag.hpp"

namespace torvex::ffi {

namespace {

constexpr int kFastKeywords = METH_FASTCALL | METH_KEYWORDS;

template <PyObject* (*F)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
PyCFunction fast() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

// The documentation of each function is exactly its text signature, so the
// interpreter exposes __text_signature__ and inspect.signature works.
PyMethodDef g_functions[] = {
    {"loads", fast<py_loads>(), kFastKeywords,
     "loads(data, /, *, option=None, include_dir=None, schema=None, schema_resolver=None, tag_handler=None, "
     "tags=None, root_path=None, on_missing_secret=None, on_missing_env_var=None)\n--\n\n"},
    {"loads_all", fast<py_loads_all>(), kFastKeywords,
     "loads_all(data, /, *, option=None, tag_handler=None, tags=None)\n--\n\n"},
    {"dumps", fast<py_dumps>(), kFastKeywords,
     "dumps(obj, /, *, default=None, option=None, null_style=None, tags=None, width=None)\n--\n\n"},
    {"to_json", fast<py_to_json>(), kFastKeywords, "to_json(obj, /, *, default=None, option=None)\n--\n\n"},
    {"schema_ref", fast<py_schema_ref>(), kFastKeywords, "schema_ref(data, /)\n--\n\n"},
    {"yaml_version", fast<py_yaml_version>(), kFastKeywords, "yaml_version(data, /)\n--\n\n"},
    {"dump_includes", fast<py_dump_includes>(), kFastKeywords,
     "dump_includes(doc, /, *, include_dir=None)\n--\n\n"},
    {"dump_includes_map", fast<py_dump_includes_map>(), kFastKeywords, "dump_includes_map(doc, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    PyObject* ok = guarded([module]() -> PyObject* {
        if (PyModule_AddFunctions(module, g_functions) < 0) return nullptr;
        for (const auto& flag : kOptionFlags) {
            if (PyModule_Add(module, flag.name, PyLong_FromUnsignedLongLong(flag.value)) < 0) return nullptr;
        }
        // Classes, each created once for the process and added under its own name.
        for (PyObject* (*type)() : {tag_type, document_type, view_type, node_type, annotated_dict_type, annotated_list_type}) {
            PyObject* cls = type();
            if (cls == nullptr || PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(cls)) < 0) return nullptr;
        }
        return Py_None;  // borrowed: only a success marker
    });
    return ok ? 0 : -1;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    // Exception classes and other looked-up objects are cached process-wide,
    // which is only sound while a single interpreter uses the module.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT,
    "_torvex",
    "",
    0,
    nullptr,
    g_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace torvex::ffi

PyMODINIT_FUNC PyInit__torvex(void) { return PyModuleDef_Init(&torvex::ffi::g_module); }
