#include "ffi/types/handle.hpp"

#include <utility>

#include "ffi/boundary.hpp"
#include "ffi/types/item_lookup.hpp"

namespace torvex::ffi {

namespace {

void raise_stale(const char* message) {
    if (message != nullptr) PyErr_SetString(PyExc_KeyError, message);
}

DocumentObject* document_of(PyObject* self) { return as_document(as_handle(self)->document); }

}  // namespace

PyRef new_handle(PyObject* type, PyObject* document, std::size_t root, rt::NodePath path) {
    if (type == nullptr) return PyRef();
    auto* cls = reinterpret_cast<PyTypeObject*>(type);
    PyRef self = PyRef::steal(cls->tp_alloc(cls, 0));
    if (!self) return self;
    HandleObject* handle = as_handle(self.get());
    handle->path = new rt::NodePath(std::move(path));
    handle->root = root;
    handle->document = Py_NewRef(document);
    return self;
}

void handle_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    HandleObject* handle = as_handle(self);
    delete handle->path;
    handle->path = nullptr;
    Py_CLEAR(handle->document);
    type->tp_free(self);
    Py_DECREF(type);
}

HandleRead::HandleRead(PyObject* self, const char* stale_message) : borrow_(document_of(self)) {
    if (!borrow_.ok()) return;
    rt::DocumentContainer& doc = *document_of(self)->doc;
    const HandleObject* handle = as_handle(self);
    node = rt::resolve_path(doc, handle->root, *handle->path);
    if (node == nullptr) {
        stale_ = true;
        raise_stale(stale_message);
        return;
    }
    root_ = &doc.documents[handle->root];
}

const rt::YamlNode* HandleRead::target() const {
    if (node->kind != rt::NodeKind::Alias) return node;
    const rt::AliasTargets targets(*root_);
    const rt::YamlNode* found = rt::follow_aliases(node, targets);
    return found != nullptr ? found : node;
}

int handle_contains(PyObject* self, PyObject* key, const char* stale_message) {
    PyObject* answer = guarded([&]() -> PyObject* {
        HandleRead read(self, stale_message);
        if (!read.ok()) return nullptr;
        const int found = contains_item(read.root(), *read.target(), key);
        return found < 0 ? nullptr : found ? Py_True : Py_False;
    });
    return answer == nullptr ? -1 : answer == Py_True ? 1 : 0;
}

HandleWrite::HandleWrite(PyObject* self, const char* stale_message) : borrow_(document_of(self)) {
    if (!borrow_.ok()) return;
    doc = document_of(self)->doc;
    const HandleObject* handle = as_handle(self);
    root_index_ = handle->root;
    node = rt::resolve_path(*doc, handle->root, *handle->path);
    if (node == nullptr) {
        raise_stale(stale_message);
        return;
    }
    if (!handle->path->empty()) {
        const rt::NodePath up(handle->path->begin(), handle->path->end() - 1);
        parent = rt::resolve_path(*doc, handle->root, up);
    }
}

}  // namespace torvex::ffi
