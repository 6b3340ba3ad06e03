// TorvexDocumentView: a live proxy onto a mapping or sequence of a
// document, addressed by root and path. It behaves like the container and
// resolves scalars to plain Python values; every use finds its node again,
// and an edit that removes the node makes the view stale.
#include <atomic>
#include <new>

#include "ffi/boundary.hpp"
#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/once.hpp"
#include "ffi/types/handle.hpp"
#include "ffi/types/item_lookup.hpp"
#include "ffi/types/roundtrip_objects.hpp"
#include "roundtrip/emitter.hpp"

namespace torvex::ffi {

namespace {

std::atomic<PyObject*> g_view_type{nullptr};

constexpr const char* kStale = "stale view";

PyObject* view_subscript(PyObject* self, PyObject* key) {
    return guarded([&]() -> PyObject* {
        HandleRead read(self, kStale);
        if (!read.ok()) return nullptr;
        return item_of(handle_document(self), as_handle(self)->root, *as_handle(self)->path, *read.node, key)
            .release();
    });
}

int view_ass_subscript(PyObject* self, PyObject* key, PyObject* value) {
    PyObject* ok = guarded([&]() -> PyObject* {
        DocumentObject* doc = as_document(handle_document(self));
        std::optional<rt::YamlNode> content;
        if (value != nullptr) {
            content = to_node(value, doc->doc->prefer_double_quotes);
            if (!content) return nullptr;
        }
        HandleWrite write(self, kStale);
        if (!write.ok()) return nullptr;
        rt::YamlNode& root = write.root();
        const bool done = content ? assign_item(root, *write.node, key, std::move(*content), doc->doc->prefer_double_quotes)
                                  : delete_item(root, *write.node, key);
        return done ? Py_None : nullptr;
    });
    return ok ? 0 : -1;
}

Py_ssize_t view_length(PyObject* self) {
    HandleRead read(self, kStale);
    if (!read.ok()) return -1;
    return read.node->is_collection() ? static_cast<Py_ssize_t>(read.node->size()) : 1;
}

int view_contains(PyObject* self, PyObject* key) { return handle_contains(self, key, kStale); }

// A snapshot taken under the borrow, so the loop body may edit the document.
PyObject* view_iter(PyObject* self) {
    return guarded([&]() -> PyObject* {
        PyRef items;
        {
            HandleRead read(self, kStale);
            if (!read.ok()) return nullptr;
            items = iteration_of(handle_document(self), as_handle(self)->root, *as_handle(self)->path, *read.node);
        }
        if (!items) return nullptr;
        return PyObject_GetIter(items.get());
    });
}

PyObject* view_entries(PyObject* self, EntryForm form) {
    return guarded([&]() -> PyObject* {
        HandleRead read(self, kStale);
        if (!read.ok()) return nullptr;
        return entries_of(handle_document(self), as_handle(self)->root, *as_handle(self)->path, *read.node, form)
            .release();
    });
}

PyObject* view_items(PyObject* self, PyObject*) { return view_entries(self, EntryForm::Pairs); }
PyObject* view_values(PyObject* self, PyObject*) { return view_entries(self, EntryForm::Values); }

PyObject* view_kind(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        HandleRead read(self, kStale);
        if (!read.ok()) return nullptr;
        return PyUnicode_FromString(data_kind(read.root(), *read.node));
    });
}

PyObject* view_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 1 || nargs > 2) {
        PyErr_Format(PyExc_TypeError, "get expected 1 or 2 arguments, got %zd", nargs);
        return nullptr;
    }
    PyObject* found = view_subscript(self, args[0]);
    if (found != nullptr) return found;
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return nullptr;
    PyErr_Clear();
    return Py_NewRef(nargs > 1 ? args[1] : Py_None);
}

PyObject* view_keys(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        HandleRead read(self, kStale);
        if (!read.ok()) return nullptr;
        return keys_of(read.root(), *read.node).release();
    });
}

PyObject* view_unwrap(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        HandleRead read(self, kStale);
        if (!read.ok()) return nullptr;
        return value_of(read.root(), *read.node).release();
    });
}

PyObject* view_walk(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        HandleRead read(self, kStale);
        if (!read.ok()) return nullptr;
        return walk_of(read.root(), *read.node).release();
    });
}

PyObject* view_range(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        HandleRead read(self, kStale);
        if (!read.ok()) return nullptr;
        return range_of(*read.node).release();
    });
}

PyObject* view_to_yaml(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        HandleRead read(self, kStale);
        if (!read.ok()) return nullptr;
        const rt::DocumentContainer& doc = *as_document(handle_document(self))->doc;
        const rt::EmitStyle style{doc.null_style, doc.prefer_double_quotes};
        return bytes_of(rt::node_to_yaml(*read.node, style)).release();
    });
}

PyObject* view_node(PyObject* self, void*) {
    return guarded([&] {
        return new_node(handle_document(self), as_handle(self)->root, *as_handle(self)->path).release();
    });
}

PyObject* view_repr(PyObject* self) {
    return guarded([&]() -> PyObject* {
        HandleRead read(self, nullptr);
        if (!read.ok()) return read.stale() ? PyUnicode_FromString("TorvexDocumentView(<stale>)") : nullptr;
        return PyUnicode_FromFormat("TorvexDocumentView(%s)", kind_name(*read.node));
    });
}

PyMethodDef g_view_methods[] = {
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(view_get)), METH_FASTCALL,
     "get(key, default=None, /)\n--\n\nItem access that returns `default` instead of raising."},
    {"keys", view_keys, METH_NOARGS, "keys()\n--\n\nThe mapping's keys as Python values (as to_dict() has them)."},
    {"items", view_items, METH_NOARGS, "items()\n--\n\nA list of the mapping's (key, value) pairs; collections as views."},
    {"values", view_values, METH_NOARGS, "values()\n--\n\nA list of the mapping's values; collections as views."},
    {"unwrap", view_unwrap, METH_NOARGS, "unwrap()\n--\n\nThe viewed node as plain Python objects."},
    {"to_dict", view_unwrap, METH_NOARGS, "to_dict()\n--\n\nThe viewed node as plain Python objects."},
    {"walk", view_walk, METH_NOARGS,
     "walk()\n--\n\nA list of (path, value) pairs, one per leaf below this node, paths relative to it."},
    {"range", view_range, METH_NOARGS, "range()\n--\n\n(line, column, end_line, end_column) of the node, 1-based."},
    {"to_yaml", view_to_yaml, METH_NOARGS, "to_yaml()\n--\n\nThe node written as YAML bytes, as if it were a document."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_view_getset[] = {
    {"node", view_node, nullptr, "A TorvexNode for the same node.", nullptr},
    {"kind", view_kind, nullptr, "'mapping', 'sequence' or 'scalar'.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_view_slots[] = {
    {Py_tp_doc, const_cast<char*>("A live view of a mapping or sequence inside a TorvexDocument.\n\n"
                                  "Reads resolve scalars to Python values and nested collections to further\n"
                                  "views; assignment and deletion edit the document.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(handle_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(view_repr)},
    {Py_tp_methods, g_view_methods},
    {Py_tp_getset, g_view_getset},
    {Py_mp_subscript, reinterpret_cast<void*>(view_subscript)},
    {Py_mp_ass_subscript, reinterpret_cast<void*>(view_ass_subscript)},
    {Py_mp_length, reinterpret_cast<void*>(view_length)},
    {Py_sq_contains, reinterpret_cast<void*>(view_contains)},
    {Py_tp_iter, reinterpret_cast<void*>(view_iter)},
    {0, nullptr},
};

PyType_Spec g_view_spec = {
    "torvex.TorvexDocumentView",
    sizeof(HandleObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    g_view_slots,
};

}  // namespace

PyObject* view_type() {
    return cached_once(g_view_type, [] { return PyRef::steal(PyType_FromSpec(&g_view_spec)); });
}

bool is_view(PyObject* obj) {
    PyObject* type = g_view_type.load(std::memory_order_acquire);
    return type != nullptr && PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(type));
}

PyRef new_view(PyObject* document, std::size_t root, rt::NodePath path) {
    return new_handle(view_type(), document, root, std::move(path));
}

}  // namespace torvex::ffi
