// numpy arrays and scalars, with OPT_SERIALIZE_NUMPY: converted through
// tolist(), or item() when tolist() fails. numpy is never imported here: an
// object can only be a numpy object once the program has imported numpy, so
// its absence from sys.modules means the rule cannot match.
#include <atomic>

#include "ffi/convert/encode_detail.hpp"

namespace torvex::ffi::encode {

namespace {

// (numpy.ndarray, numpy.generic), published once for the process.
std::atomic<PyObject*> g_numpy_types{nullptr};
std::atomic<PyObject*> g_tolist{nullptr};
std::atomic<PyObject*> g_item{nullptr};

// The cached pair, or null (possibly with an error set) when numpy has not
// been imported or lacks the two types.
PyObject* numpy_types() {
    if (PyObject* cached = g_numpy_types.load(std::memory_order_acquire)) return cached;
    PyRef name = PyRef::steal(PyUnicode_FromString("numpy"));
    if (!name) return nullptr;
    PyRef module = PyRef::steal(PyImport_GetModule(name.get()));
    if (!module) return nullptr;
    return cached_once(g_numpy_types, [&]() -> PyRef {
        PyRef ndarray = PyRef::steal(PyObject_GetAttrString(module.get(), "ndarray"));
        if (!ndarray) return ndarray;
        PyRef generic = PyRef::steal(PyObject_GetAttrString(module.get(), "generic"));
        if (!generic) return generic;
        if (!PyType_Check(ndarray.get()) || !PyType_Check(generic.get())) {
            PyErr_SetString(PyExc_TypeError, "numpy.ndarray and numpy.generic must be types");
            return PyRef();
        }
        return PyRef::steal(PyTuple_Pack(2, ndarray.get(), generic.get()));
    });
}

// obj.<method>(), or a null PyRef with the error cleared.
PyRef call_quietly(PyObject* obj, std::atomic<PyObject*>& slot, const char* method) {
    PyObject* name = interned(slot, method);
    PyRef result;
    if (name != nullptr) result = PyRef::steal(PyObject_CallMethodNoArgs(obj, name));
    if (!result) PyErr_Clear();
    return result;
}

}  // namespace

// The result is converted one level deeper, so an array subclass whose
// tolist() returns itself ends at the depth limit.
Outcome encode_numpy(Encoder& encoder, PyObject* obj, unsigned depth) {
    if (!encoder.options().serialize_numpy) return Outcome::NoMatch;
    PyObject* types = numpy_types();
    if (types == nullptr) {
        PyErr_Clear();  // numpy not imported, or not a numpy we can use
        return Outcome::NoMatch;
    }
    auto* ndarray = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(types, 0));
    auto* generic = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(types, 1));
    if (!PyObject_TypeCheck(obj, ndarray) && !PyObject_TypeCheck(obj, generic)) return Outcome::NoMatch;
    PyRef plain = call_quietly(obj, g_tolist, "tolist");
    if (!plain) plain = call_quietly(obj, g_item, "item");
    if (!plain) return Outcome::NoMatch;
    return encoder.convert(plain.get(), depth + 1) ? Outcome::Done : Outcome::Failed;
}

}  // namespace torvex::ffi::encode
